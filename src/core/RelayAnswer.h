#pragma once
// A server's answer to a request that the relay sent on in the server's form: where its head
// ends, where its body ends, and whether the connection goes on after it. The relay passes the
// answer on as it came; this only tells it when the next request may go.

#include "core/HttpBody.h"

#include <cstddef>
#include <string_view>

struct RelayAnswer {
    enum State {
        More,  // a head not whole yet, and not beyond the bound
        Bad,   // no answer of HTTP/1.x, or a head beyond kMostHeadBytes
        Whole,
    };
    State state = More;
    std::size_t length = 0; // of the whole head
    int status = 0;
    // An interim answer (1xx but 101): the request's own answer follows it.
    bool interim = false;
    // The server switches to another protocol (101): bytes pass both ways from now on.
    bool switched = false;
    BodyReader body = BodyReader::None();
    // The server ends its connection after this answer, or it may not be asked again on it.
    bool lastOnConnection = false;
};

// The answer that `received` starts with, to a request of `method`.
RelayAnswer ReadRelayAnswer(std::string_view received, std::string_view method);
