#pragma once
// The service's log: one line at a time on standard output, each beginning with the UTC time.
// Any thread.

#include <string>

void LogLine(const std::string& line);
