// Session: DevTools protocol messages over one WebSocket. Each request gets an id and a time
// limit; a reader thread matches responses to their callers and hands events to one handler.
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

    Session() = default;
    ~Session();
    Session(const Session&) = delete;
    Session& operator=(const Session&) = delete;

    // The handler runs on the reader thread; it must not wait for responses.
    void SetEventHandler(EventHandler handler);
    bool Open(int port, const std::string& path, int timeoutMs);

    // Waits for the response (never call from the reader thread, i.e. from a callback or event).
    Reply Call(const std::string& method, json params, const std::string& sessionId, Deadline deadline);
    Reply Call(const std::string& method, json params = json::object(), const std::string& sessionId = {},
               int timeoutMs = kDefaultTimeoutMs) {
        return Call(method, std::move(params), sessionId, Deadline::In(timeoutMs));
    }
    // The callback, if any, runs once: on the reader thread with the response, or with a failure
    // when the time limit passes or the connection goes (possibly on the calling thread).
    void Send(const std::string& method, json params, const std::string& sessionId, Deadline deadline,
              Callback callback);
    void Send(const std::string& method, json params, const std::string& sessionId, int timeoutMs, Callback callback) {
        Send(method, std::move(params), sessionId, Deadline::In(timeoutMs), std::move(callback));
    }

    bool Alive() const { return alive_; }
    // Ends the connection and the reader; pending requests fail.
    void Close();

private:
    struct Pending {
        Callback callback;
        Deadline deadline;
    };
    void ReaderLoop();
    void FailExpired(bool all);
    void Dispatch(const std::string& text);

    WebSocket socket_;
    std::thread reader_;
    std::mutex mutex_;
    std::map<int64_t, Pending> pending_;
    int64_t nextId_ = 1;
    EventHandler onEvent_;
    std::atomic<bool> alive_{false};
};

}  // namespace wkechr
