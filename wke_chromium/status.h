// The outcome of one protocol request, as a type: callers branch on it, never on message text.
#pragma once

namespace wkechr {

enum class Status {
    Ok,             // the browser answered with a result
    ProtocolError,  // the browser answered with an error
    TimedOut,       // no answer before the request's deadline; the connection may still be fine
    Closed,         // the connection is gone: the browser must be reached again
};

constexpr const char* StatusName(Status status) {
    switch (status) {
    case Status::Ok: return "ok";
    case Status::ProtocolError: return "protocol error";
    case Status::TimedOut: return "timed out";
    case Status::Closed: return "closed";
    }
    return "?";
}

}  // namespace wkechr
