#pragma once
// Where an HTTP/1.x message's body ends, read as its bytes come: nothing, a length, chunks (up to
// and with their trailer), or the connection's end. The bytes are only measured, never changed,
// so that a proxy passes them on as they came. A chunk's size line and the trailer are bounded:
// a sender that never ends them is taken for broken, not waited for without end.

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

class BodyReader {
public:
    // The most a chunk's size line (with its extensions) and the whole trailer may take.
    static constexpr std::size_t kMostSizeLineBytes = 4096;
    static constexpr std::size_t kMostTrailerBytes = 16 * 1024;

    static BodyReader None() { return BodyReader(Framing::Length, 0); }
    static BodyReader Length(std::uint64_t bytes) { return BodyReader(Framing::Length, bytes); }
    static BodyReader Chunked() { return BodyReader(Framing::Chunked, 0); }
    static BodyReader UntilClose() { return BodyReader(Framing::UntilClose, 0); }

    // How many of the bytes at the start of `bytes` belong to the body (all of them until it
    // ends; none once it has, or once it is broken).
    std::size_t Take(std::string_view bytes);
    bool Ended() const { return state_ == State::Ended; }
    bool Broken() const { return state_ == State::Broken; }
    // A body that only the connection's end ends.
    bool EndsWithTheConnection() const { return framing_ == Framing::UntilClose; }

private:
    enum class Framing { Length, Chunked, UntilClose };
    enum class State { SizeLine, Data, DataEnd, Trailer, Ended, Broken };

    BodyReader(Framing framing, std::uint64_t length);
    // One byte of a line: a size line, the CR LF after a chunk's data, or the trailer's.
    void TakeLineByte(char byte);
    // The chunk's size line, whole in line_: its data follows, or the trailer for the last.
    void SizeLineRead();

    Framing framing_;
    State state_;
    std::uint64_t left_ = 0; // of the length, or of the chunk's data
    std::string line_;       // of the size line, the data's CR LF, or the trailer's line so far
    std::size_t trailerBytes_ = 0;
};
