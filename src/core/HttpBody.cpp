#include "core/HttpBody.h"

#include <algorithm>

BodyReader::BodyReader(Framing framing, std::uint64_t length)
    : framing_(framing),
      state_(framing == Framing::Chunked ? State::SizeLine
             : framing == Framing::Length && length == 0 ? State::Ended
                                                         : State::Data),
      left_(length)
{
}

std::size_t BodyReader::Take(std::string_view bytes)
{
    std::size_t taken = 0;
    while (taken < bytes.size() && state_ != State::Ended && state_ != State::Broken) {
        const std::string_view rest = bytes.substr(taken);
        if (state_ == State::Data) {
            if (framing_ == Framing::UntilClose)
                return bytes.size();
            const std::size_t part = static_cast<std::size_t>(std::min<std::uint64_t>(left_, rest.size()));
            taken += part;
            left_ -= part;
            if (left_ == 0)
                state_ = framing_ == Framing::Length ? State::Ended : State::DataEnd;
            continue;
        }
        // A line, byte by byte up to its LF: lines are short, data goes above in one piece.
        TakeLineByte(rest.front());
        ++taken;
    }
    return taken;
}

void BodyReader::TakeLineByte(char byte)
{
    line_ += byte;
    if (state_ == State::DataEnd) {
        if (line_ == "\r\n")
            state_ = State::SizeLine, line_.clear();
        else if (line_ != "\r")
            state_ = State::Broken;
        return;
    }
    if ((state_ == State::Trailer && ++trailerBytes_ > kMostTrailerBytes) ||
        (state_ == State::SizeLine && line_.size() > kMostSizeLineBytes)) {
        state_ = State::Broken;
        return;
    }
    if (line_.back() != '\n')
        return;
    if (line_.size() < 2 || line_[line_.size() - 2] != '\r')
        state_ = State::Broken;
    else if (state_ == State::SizeLine)
        SizeLineRead();
    else if (line_ == "\r\n")
        state_ = State::Ended; // the trailer's empty line
    line_.clear();
}

void BodyReader::SizeLineRead()
{
    // "1a2b[;extensions]\r\n": at most 15 hex digits, so that no size overflows.
    std::uint64_t size = 0;
    std::size_t digits = 0;
    for (; digits < line_.size(); ++digits) {
        const char c = line_[digits];
        const int value = c >= '0' && c <= '9' ? c - '0'
                          : c >= 'a' && c <= 'f' ? c - 'a' + 10
                          : c >= 'A' && c <= 'F' ? c - 'A' + 10
                                                 : -1;
        if (value < 0)
            break;
        size = size * 16 + static_cast<unsigned>(value);
    }
    std::size_t after = digits;
    while (line_[after] == ' ' || line_[after] == '\t')
        ++after;
    if (digits == 0 || digits > 15 || (line_[after] != ';' && line_[after] != '\r')) {
        state_ = State::Broken;
        return;
    }
    left_ = size;
    state_ = size == 0 ? State::Trailer : State::Data;
}
