#pragma once
// The service's log: one line at a time on standard output, each beginning with the UTC time.
// Lines are queued and written by a thread of the log's own, so that a slow or blocked standard
// output never holds up a request or the service's end; while the queue is full, lines are
// dropped, and the next line written says how many. Any thread.

#include <chrono>
#include <string>
#include <string_view>

void LogLine(const std::string& line);

// Waits at most `patience` for the queued lines to be written.
void FlushLog(std::chrono::milliseconds patience);

// `text` as one field of a log line: at most 256 bytes of it, and every byte that could end the
// field or the line or that a terminal would act on (space, control bytes, '"', '\', bytes over
// 0x7E) written as \xHH. Empty text is "" and a lone "-" is "\x2d", so that neither reads as the
// "-" of a field that has no value.
std::string LogField(std::string_view text);
