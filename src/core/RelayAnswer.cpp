#include "core/RelayAnswer.h"

#include "core/HttpHead.h"

#include <optional>
#include <vector>

namespace {

// What an answer's header lines say of its connection and its body.
struct AnswerFields {
    bool saysClose = false;
    bool saysKeepAlive = false;
    std::optional<std::string_view> length;
    bool lengthsDiffer = false;
    std::optional<std::string_view> coding;
};

AnswerFields FieldsOf(const std::vector<std::string_view>& lines)
{
    AnswerFields fields;
    for (std::size_t line = 1; line + 1 < lines.size(); ++line) {
        const std::string_view text = lines[line];
        if (const auto value = FieldValue(text, "Connection")) {
            fields.saysClose = fields.saysClose || ListHolds(*value, "close");
            fields.saysKeepAlive = fields.saysKeepAlive || ListHolds(*value, "keep-alive");
        } else if (const auto given = FieldValue(text, "Content-Length")) {
            fields.lengthsDiffer = fields.lengthsDiffer || (fields.length && *fields.length != *given);
            fields.length = given;
        } else if (const auto codings = FieldValue(text, "Transfer-Encoding")) {
            fields.coding = *codings;
        }
    }
    return fields;
}

// Where the body of a final answer ends; false where its length cannot be read.
bool FrameBody(const AnswerFields& fields, RelayAnswer& answer)
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

    const AnswerFields fields = FieldsOf(*lines);
    // HTTP/1.0 ends the connection unless it says otherwise; HTTP/1.1 keeps it unless it says so.
    answer.lastOnConnection = fields.saysClose || (received.compare(0, 8, "HTTP/1.0") == 0 && !fields.saysKeepAlive);
    answer.switched = answer.status == 101;
    answer.interim = answer.status < 200 && !answer.switched;
    if (answer.status < 200 || method == "HEAD" || answer.status == 204 || answer.status == 304)
        return answer; // no body, whatever its fields say
    if (!FrameBody(fields, answer))
        return {RelayAnswer::Bad};
    return answer;
}
