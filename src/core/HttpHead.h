#pragma once
// The heads of HTTP/1.x messages as a proxy reads them: where a head ends, its lines, its fields.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string_view>
#include <vector>

// The most a head may take, its empty line included; a longer one is not read.
constexpr std::size_t kMostHeadBytes = 16 * 1024;

// Where a head ends (after its empty line); npos while it has not.
std::size_t HeadEnd(std::string_view text);

// The status of a head's status line "HTTP/1.x NNN ..."; 0 when it is none.
int StatusOf(std::string_view head);

bool StartsWithNoCase(std::string_view text, std::string_view start);
bool EqualNoCase(std::string_view a, std::string_view b);

// The head's lines, without their CR LF (the empty last line included); nullopt where the head
// does not end in CR LF or a line holds a lone CR or a NUL.
std::optional<std::vector<std::string_view>> HeadLines(std::string_view head);

// The value of the field `name` in `line` ("Name: value"), without the spaces around it; nullopt
// where the line is another field.
std::optional<std::string_view> FieldValue(std::string_view line, std::string_view name);

// Whether a comma-separated field value holds `token` (in any case), as "Connection: close" does.
bool ListHolds(std::string_view value, std::string_view token);

// A Content-Length's value; nullopt where it is no number of at most 18 digits.
std::optional<std::uint64_t> ContentLength(std::string_view digits);

// What a head's field lines (all but its first and its empty last) say of its connection and the
// framing of its body.
struct FramingFields {
    std::vector<std::string_view> connection; // each "Connection" value (and "Proxy-Connection", where read)
    std::optional<std::string_view> length;   // the last "Content-Length"
    bool lengthsDiffer = false;
    std::optional<std::string_view> coding;   // the last "Transfer-Encoding"
    bool codingTwice = false;

    // Whether a connection value holds `token` ("close", "keep-alive", a field's name).
    bool ConnectionSays(std::string_view token) const;
};
FramingFields ReadFramingFields(const std::vector<std::string_view>& lines, bool withProxyConnection);
