#include "core/HttpHead.h"
#include "core/RelayAnswer.h"
#include "core/RelayRequest.h"

#include <gtest/gtest.h>

namespace {

// What `reader` takes of `bytes` given `step` bytes at a time, as reads bring them.
std::size_t TakeInSteps(BodyReader& reader, const std::string& bytes, std::size_t step)
{
    std::size_t taken = 0;
    for (std::size_t at = 0; at < bytes.size(); at += step) {
        const std::size_t piece = std::min(step, bytes.size() - at);
        const std::size_t took = reader.Take(std::string_view(bytes).substr(at, piece));
        taken += took;
        if (took < piece)
            break;
    }
    return taken;
}

} // namespace

// A body ends where its framing says, however the reads cut it; what follows is the next
// message's, and a framing that cannot be read, or never ends its lines, is broken.
TEST(RelayFraming, BodiesEndWhereTheirFramingSays)
{
    const std::string chunks = "4;name=value\r\nWiki\r\nA \r\n0123456789\r\n0\r\nX-Trailer: 1\r\n\r\n";
    for (const std::size_t step : {std::size_t{1}, std::size_t{3}, chunks.size() + 10}) {
        SCOPED_TRACE(step);
        BodyReader chunked = BodyReader::Chunked();
        EXPECT_EQ(TakeInSteps(chunked, chunks + "GET next", step), chunks.size());
        EXPECT_TRUE(chunked.Ended());
        BodyReader length = BodyReader::Length(10);
        EXPECT_EQ(TakeInSteps(length, "0123456789GET next", step), 10u);
        EXPECT_TRUE(length.Ended());
    }
    EXPECT_TRUE(BodyReader::None().Ended());
    BodyReader untilClose = BodyReader::UntilClose();
    EXPECT_EQ(untilClose.Take("all of it"), 9u);
    EXPECT_FALSE(untilClose.Ended());
    BodyReader noTrailer = BodyReader::Chunked();
    EXPECT_EQ(noTrailer.Take("0\r\n\r\nnext"), 5u);
    EXPECT_TRUE(noTrailer.Ended());

    for (const std::string& broken : {std::string("x\r\n"), std::string("4\r\nWikiXY"), std::string("4\nWiki\r\n"),
                                      std::string("1000000000000000\r\n"), std::string("-1\r\n"),
                                      "1;" + std::string(BodyReader::kMostSizeLineBytes, 'e'),
                                      "0\r\nX: " + std::string(BodyReader::kMostTrailerBytes, 't')}) {
        BodyReader reader = BodyReader::Chunked();
        TakeInSteps(reader, broken, 7);
        EXPECT_TRUE(reader.Broken()) << broken.substr(0, 20);
        EXPECT_EQ(reader.Take("more"), 0u);
    }
}

// A browser's bytes are read request by request: each head whole and within the bound, then
// its body; a pipelined request stays for its turn.
TEST(RelayFraming, RequestsAreReadOneAfterAnotherWithinTheBound)
{
    const std::string upload = "POST http://a.test/up HTTP/1.1\r\nHost: a.test\r\nTransfer-Encoding: chunked\r\n\r\n";
    const std::string next = "GET http://b.test/ HTTP/1.1\r\nHost: b.test\r\n\r\n";
    const std::string received = upload + "3\r\nabc\r\n0\r\n\r\n" + next;
    for (std::size_t cut = 0; cut < upload.size(); ++cut)
        ASSERT_EQ(ReadRelayHead(std::string_view(received).substr(0, cut)).state, RelayHead::More) << cut;
    RelayHead head = ReadRelayHead(received);
    ASSERT_EQ(head.state, RelayHead::Whole);
    EXPECT_EQ(head.length, upload.size());
    EXPECT_EQ(head.request->host, "a.test");
    const std::size_t body = head.request->body.Take(std::string_view(received).substr(head.length));
    EXPECT_TRUE(head.request->body.Ended());
    const RelayHead second = ReadRelayHead(std::string_view(received).substr(head.length + body));
    ASSERT_EQ(second.state, RelayHead::Whole);
    EXPECT_EQ(second.request->host, "b.test");
    EXPECT_TRUE(second.request->body.Ended()) << "no body without a length or chunks";

    const std::string start = "GET http://a.test/ HTTP/1.1\r\nX-Fill: ";
    const auto withHeadOf = [&](std::size_t bytes) { return start + std::string(bytes - start.size() - 4, 'x') + "\r\n\r\n"; };
    EXPECT_EQ(ReadRelayHead(withHeadOf(kMostHeadBytes)).state, RelayHead::Whole);
    EXPECT_EQ(ReadRelayHead(withHeadOf(kMostHeadBytes + 1)).state, RelayHead::TooLarge) << "whole, but past the bound";
    EXPECT_EQ(ReadRelayHead(withHeadOf(kMostHeadBytes + 1).substr(0, kMostHeadBytes)).state, RelayHead::TooLarge);
    EXPECT_EQ(ReadRelayHead(withHeadOf(kMostHeadBytes + 1).substr(0, kMostHeadBytes - 1)).state, RelayHead::More);
    EXPECT_EQ(ReadRelayHead("GET / HTTP/1.1\r\n\r\n").state, RelayHead::Bad);
}

// An answer tells where its body ends, and whether the server may be asked again on its
// connection.
TEST(RelayFraming, AnAnswerTellsWhereItEndsAndWhetherTheConnectionGoesOn)
{
    const auto read = [](const std::string& head, const char* method = "GET") { return ReadRelayAnswer(head, method); };
    const RelayAnswer sized = read("HTTP/1.1 200 OK\r\nContent-Length: 5\r\n\r\nhello");
    ASSERT_EQ(sized.state, RelayAnswer::Whole);
    EXPECT_EQ(sized.length, 38u);
    EXPECT_FALSE(sized.lastOnConnection);
    BodyReader body = sized.body;
    EXPECT_EQ(body.Take("helloHTTP/1.1"), 5u);

    EXPECT_TRUE(read("HTTP/1.1 200 OK\r\nTransfer-Encoding: gzip, chunked\r\n\r\n").body.Take("0\r\n\r\n") == 5);
    EXPECT_TRUE(read("HTTP/1.1 200 OK\r\nContent-Length: 5\r\n\r\n", "HEAD").body.Ended());
    EXPECT_TRUE(read("HTTP/1.1 304 Not Modified\r\nContent-Length: 5\r\n\r\n").body.Ended());
    EXPECT_TRUE(read("HTTP/1.1 204 No Content\r\n\r\n").body.Ended());
    EXPECT_TRUE(read("HTTP/1.1 100 Continue\r\n\r\n").interim);
    EXPECT_TRUE(read("HTTP/1.1 101 Switching Protocols\r\n\r\n").switched);

    // Without a length the body ends with the connection, and so does the link.
    for (const char* lastOne : {"HTTP/1.1 200 OK\r\n\r\n", "HTTP/1.1 200 OK\r\nTransfer-Encoding: gzip\r\n\r\n",
                                "HTTP/1.1 200 OK\r\nContent-Length: 0\r\nConnection: Close\r\n\r\n",
                                "HTTP/1.0 200 OK\r\nContent-Length: 0\r\n\r\n"})
        EXPECT_TRUE(read(lastOne).lastOnConnection) << lastOne;
    EXPECT_FALSE(read("HTTP/1.0 200 OK\r\nContent-Length: 0\r\nConnection: keep-alive\r\n\r\n").lastOnConnection);
    EXPECT_TRUE(read("HTTP/1.1 200 OK\r\n\r\n").body.EndsWithTheConnection());

    EXPECT_EQ(read("HTTP/1.1 200 OK\r\nContent-Length: 5").state, RelayAnswer::More);
    for (const std::string& bad : {std::string("SSH-2.0-OpenSSH_9.2\r\n\r\n"), std::string("HTTP/1.1 200 OK\r\nX: a\rb\r\n\r\n"),
                                   std::string("HTTP/1.1 200 OK\r\nContent-Length: 1\r\nContent-Length: 2\r\n\r\n"),
                                   "HTTP/1.1 200 OK\r\nX: " + std::string(kMostHeadBytes, 'x') + "\r\n\r\n"})
        EXPECT_EQ(read(bad).state, RelayAnswer::Bad) << bad.substr(0, 30);
}
