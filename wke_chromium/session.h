// Session: DevTools protocol messages over one WebSocket. Each request gets an id and a time
// limit; a reader thread matches responses to their callers and hands events to one handler.
// Sending never waits for the browser, so the reader may send too.
#pragma once

#include <atomic>
#include <condition_variable>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include <nlohmann/json.hpp>

#include "deadline.h"
#include "status.h"
#include "websocket.h"

namespace wkechr {

using json = nlohmann::json;

struct Reply {
    Status status = Status::Closed;
    json result;        // the response's "result" when ok
    std::string error;  // the protocol's error message, for diagnostics only

    bool ok() const { return status == Status::Ok; }
};

class Session {
public:
    using Callback = std::function<void(Reply)>;
    using EventHandler = std::function<void(const std::string& method, const json& params, const std::string& sessionId)>;

    static constexpr int kDefaultTimeoutMs = 30000;

    Session();
    ~Session();
    Session(const Session&) = delete;
    Session& operator=(const Session&) = delete;

    // The handler runs on the reader thread; it may Send, but must not wait for responses.
    void SetEventHandler(EventHandler handler);
    // Connects and upgrades within the deadline; may be tried again after a failure.
    bool Open(const std::string& host, int port, const std::string& path, Deadline deadline);
    bool Open(int port, const std::string& path, Deadline deadline) { return Open("127.0.0.1", port, path, deadline); }
    bool Open(int port, const std::string& path, int timeoutMs) { return Open(port, path, Deadline::In(timeoutMs)); }

    // Waits for the response. On the reader thread (in a callback or an event) it fails at once:
    // no answer could be read while it waited.
    Reply Call(const std::string& method, json params, const std::string& sessionId, Deadline deadline);
    Reply Call(const std::string& method, json params = json::object(), const std::string& sessionId = {},
               int timeoutMs = kDefaultTimeoutMs) {
        return Call(method, std::move(params), sessionId, Deadline::In(timeoutMs));
    }
    // Returns at once. The callback, if any, runs once: on the reader thread with the response or
    // a time-out, or with a failure when the connection goes (possibly on the calling thread).
    void Send(const std::string& method, json params, const std::string& sessionId, Deadline deadline,
              Callback callback);
    void Send(const std::string& method, json params, const std::string& sessionId, int timeoutMs, Callback callback) {
        Send(method, std::move(params), sessionId, Deadline::In(timeoutMs), std::move(callback));
    }

    bool Alive() const;
    // Ends the connection, the writer and the reader; pending requests fail. Safe from any thread,
    // also from the reader's own callbacks, and more than once.
    void Close();

private:
    struct Core;
    // Shared with the reader thread, which may outlive a Session closed from that thread.
    std::shared_ptr<Core> core_;
};

}  // namespace wkechr
