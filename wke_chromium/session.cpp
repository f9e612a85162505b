#include "session.h"

#include <vector>

namespace wkechr {

Session::~Session() { Close(); }

void Session::SetEventHandler(EventHandler handler) {
    std::lock_guard lock(mutex_);
    onEvent_ = std::move(handler);
}

bool Session::Open(int port, const std::string& path, int timeoutMs) {
    if (!socket_.Connect("127.0.0.1", port, path, timeoutMs)) return false;
    alive_ = true;
    reader_ = std::thread([this] { ReaderLoop(); });
    return true;
}

void Session::Close() {
    socket_.Shutdown();
    if (reader_.joinable()) {
        if (reader_.get_id() == std::this_thread::get_id())
            reader_.detach();
        else
            reader_.join();
    }
    alive_ = false;
    FailExpired(true);
}

void Session::Send(const std::string& method, json params, const std::string& sessionId, Deadline deadline,
                   Callback callback) {
    json message = {{"method", method}, {"params", std::move(params)}};
    if (!sessionId.empty()) message["sessionId"] = sessionId;
    int64_t id;
    {
        std::lock_guard lock(mutex_);
        id = nextId_++;
        message["id"] = id;
        if (callback) pending_.emplace(id, Pending{std::move(callback), deadline});
    }
    std::string text = message.dump(-1, ' ', false, json::error_handler_t::replace);
    if (!alive_ || !socket_.SendText(text)) {
        Callback failed;
        {
            std::lock_guard lock(mutex_);
            auto it = pending_.find(id);
            if (it != pending_.end()) {
                failed = std::move(it->second.callback);
                pending_.erase(it);
            }
        }
        if (failed) failed(Reply{Status::Closed, {}, "closed"});
    }
}

Reply Session::Call(const std::string& method, json params, const std::string& sessionId, Deadline deadline) {
    struct Waiter {
        std::mutex m;
        std::condition_variable cv;
        bool done = false;
        Reply reply;
    };
    auto waiter = std::make_shared<Waiter>();
    Send(method, std::move(params), sessionId, deadline, [waiter](Reply reply) {
        std::lock_guard lock(waiter->m);
        waiter->reply = std::move(reply);
        waiter->done = true;
        waiter->cv.notify_all();
    });
    std::unique_lock lock(waiter->m);
    // The reader enforces the limit; the margin only guards against a reader that stopped.
    if (!waiter->cv.wait_for(lock, std::chrono::milliseconds(deadline.RemainingMs() + 2000), [&] { return waiter->done; }))
        return Reply{Status::TimedOut, {}, "timed out"};
    return std::move(waiter->reply);
}

void Session::FailExpired(bool all) {
    std::vector<Callback> expired;
    {
        std::lock_guard lock(mutex_);
        const Millis now = NowMillis();
        for (auto it = pending_.begin(); it != pending_.end();) {
            if (all || it->second.deadline.Passed(now)) {
                expired.push_back(std::move(it->second.callback));
                it = pending_.erase(it);
            } else {
                ++it;
            }
        }
    }
    for (auto& callback : expired)
        callback(all ? Reply{Status::Closed, {}, "closed"} : Reply{Status::TimedOut, {}, "timed out"});
}

void Session::Dispatch(const std::string& text) {
    json message = json::parse(text, nullptr, false);
    if (!message.is_object()) return;
    auto id = message.find("id");
    if (id != message.end() && id->is_number_integer()) {
        Callback callback;
        {
            std::lock_guard lock(mutex_);
            auto it = pending_.find(id->get<int64_t>());
            if (it == pending_.end()) return;  // late answer to a request that timed out
            callback = std::move(it->second.callback);
            pending_.erase(it);
        }
        Reply reply;
        auto error = message.find("error");
        if (error != message.end()) {
            reply.status = Status::ProtocolError;
            reply.error = error->is_object() ? error->value("message", std::string("error")) : std::string("error");
        } else {
            reply.status = Status::Ok;
            auto result = message.find("result");
            if (result != message.end()) reply.result = std::move(*result);
        }
        callback(std::move(reply));
        return;
    }
    auto method = message.find("method");
    if (method == message.end() || !method->is_string()) return;
    EventHandler handler;
    {
        std::lock_guard lock(mutex_);
        handler = onEvent_;
    }
    if (!handler) return;
    static const json kEmpty = json::object();
    auto params = message.find("params");
    auto session = message.find("sessionId");
    handler(method->get<std::string>(), params != message.end() ? *params : kEmpty,
            session != message.end() && session->is_string() ? session->get<std::string>() : std::string());
}

void Session::ReaderLoop() {
    std::string text;
    for (;;) {
        WebSocket::Status status = socket_.Receive(text, 250);
        if (status == WebSocket::Status::Closed) break;
        if (status == WebSocket::Status::Message) {
            try {
                Dispatch(text);
            } catch (...) {
                // A malformed message or a failing handler must not end the reader.
            }
        }
        FailExpired(false);
    }
    alive_ = false;
    FailExpired(true);
}

}  // namespace wkechr
