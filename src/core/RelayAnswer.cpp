#include "core/RelayAnswer.h"

#include "core/HttpHead.h"

#include <optional>

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

    const bool http10 = received.compare(0, 8, "HTTP/1.0") == 0;
    bool saysClose = false, saysKeepAlive = false;
    std::optional<std::string_view> length, coding;
    bool lengthsDiffer = false;
    for (std::size_t line = 1; line + 1 < lines->size(); ++line) {
        const std::string_view text = (*lines)[line];
        if (const auto value = FieldValue(text, "Connection")) {
            saysClose = saysClose || ListHolds(*value, "close");
            saysKeepAlive = saysKeepAlive || ListHolds(*value, "keep-alive");
        } else if (const auto given = FieldValue(text, "Content-Length")) {
            lengthsDiffer = lengthsDiffer || (length && *length != *given);
            length = given;
        } else if (const auto codings = FieldValue(text, "Transfer-Encoding")) {
            coding = *codings;
        }
    }
    // HTTP/1.0 ends the connection unless it says otherwise; HTTP/1.1 keeps it unless it says so.
    answer.lastOnConnection = saysClose || (http10 && !saysKeepAlive);

    if (answer.status == 101) {
        answer.switched = true;
        return answer;
    }
    if (answer.status < 200) {
        answer.interim = true;
        return answer;
    }
    if (method == "HEAD" || answer.status == 204 || answer.status == 304)
        return answer; // no body, whatever its fields say
    if (coding) {
        // Chunks where they are the last coding; any other body ends only with the connection.
        const std::string_view last = coding->substr(coding->rfind(',') == std::string_view::npos ? 0 : coding->rfind(',') + 1);
        if (ListHolds(last, "chunked"))
            answer.body = BodyReader::Chunked();
        else
            answer.body = BodyReader::UntilClose(), answer.lastOnConnection = true;
        return answer;
    }
    const auto bytes = length ? ContentLength(*length) : std::nullopt;
    if (length && (!bytes || lengthsDiffer))
        return {RelayAnswer::Bad};
    if (bytes)
        answer.body = BodyReader::Length(*bytes);
    else
        answer.body = BodyReader::UntilClose(), answer.lastOnConnection = true;
    return answer;
}
