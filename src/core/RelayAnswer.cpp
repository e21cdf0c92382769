#include "core/RelayAnswer.h"

#include "core/HttpHead.h"

#include <optional>

namespace {

// Where the body of a final answer ends; false where its length cannot be read.
bool FrameBody(const FramingFields& fields, RelayAnswer& answer)
{
    if (fields.coding) {
        // Chunks where they are the last coding; any other body ends only with the connection.
        const std::size_t comma = fields.coding->rfind(',');
        if (ListHolds(fields.coding->substr(comma == std::string_view::npos ? 0 : comma + 1), "chunked"))
            answer.body = BodyReader::Chunked();
        else
            answer.body = BodyReader::UntilClose(), answer.lastOnConnection = true;
        return true;
    }
    if (!fields.length) {
        answer.body = BodyReader::UntilClose();
        answer.lastOnConnection = true;
        return true;
    }
    const auto bytes = ContentLength(*fields.length);
    if (!bytes || fields.lengthsDiffer)
        return false;
    answer.body = BodyReader::Length(*bytes);
    return true;
}

} // namespace

RelayAnswer ReadRelayAnswer(std::string_view received, std::string_view method)
{
    RelayAnswer answer;
    if (received.size() >= 12 && StatusOf(received) == 0)
        return {RelayAnswer::Bad};
    const std::size_t end = HeadEnd(received.substr(0, kMostHeadBytes + 3));
    if (end == std::string_view::npos)
        return {received.size() >= kMostHeadBytes ? RelayAnswer::Bad : RelayAnswer::More};
    const auto lines = HeadLines(received.substr(0, end));
    answer.status = StatusOf(received);
    if (end > kMostHeadBytes || !lines || answer.status < 100)
        return {RelayAnswer::Bad};
    answer.state = RelayAnswer::Whole;
    answer.length = end;

    const FramingFields fields = ReadFramingFields(*lines, false);
    // HTTP/1.0 ends the connection unless it says otherwise; HTTP/1.1 keeps it unless it says so.
    answer.lastOnConnection = fields.ConnectionSays("close") ||
                              (received.compare(0, 8, "HTTP/1.0") == 0 && !fields.ConnectionSays("keep-alive"));
    answer.switched = answer.status == 101;
    answer.interim = answer.status < 200 && !answer.switched;
    if (answer.status < 200 || method == "HEAD" || answer.status == 204 || answer.status == 304)
        return answer; // no body, whatever its fields say
    if (!FrameBody(fields, answer))
        return {RelayAnswer::Bad};
    return answer;
}
