#include "session.h"

#include <algorithm>
#include <limits>
#include <vector>

namespace wkechr {

namespace {

// The longest the reader waits for a message before it looks at the deadlines again.
constexpr int kReaderWaitMs = 250;
constexpr Millis kNoDeadline = std::numeric_limits<Millis>::max();

struct Pending {
    Session::Callback callback;
    Deadline deadline;
};

void RunQuietly(Session::Callback& callback, Reply reply) {
    try {
        callback(std::move(reply));
    } catch (...) {
        // A failing callback must not end the reader or escape from Close.
    }
}

}  // namespace

struct Session::Core {
    WebSocket socket;
    std::atomic<bool> alive{false};

    std::mutex mutex;  // the fields below
    std::map<int64_t, Pending> pending;
    int64_t nextId = 1;
    Millis earliest = kNoDeadline;  // no pending deadline is before this
    std::shared_ptr<const EventHandler> onEvent;

    std::mutex threadMutex;  // the thread object only, so that one caller joins it
    std::thread reader;
    std::atomic<std::thread::id> readerId{};
    bool closed = false;  // under threadMutex: a closed session is not opened again

    void ReaderLoop();
    void Dispatch(std::string_view text);
    void FailExpired();
    void FailAll();
    // Takes the request's callback out, so that whoever gets it runs it.
    Callback Take(int64_t id);
};

Session::Callback Session::Core::Take(int64_t id) {
    std::lock_guard lock(mutex);
    auto it = pending.find(id);
    if (it == pending.end()) return {};
    Callback callback = std::move(it->second.callback);
    pending.erase(it);
    return callback;
}

void Session::Core::FailExpired() {
    std::vector<Callback> expired;
    {
        std::lock_guard lock(mutex);
        const Millis now = NowMillis();
        if (now < earliest) return;
        earliest = kNoDeadline;
        for (auto it = pending.begin(); it != pending.end();) {
            if (it->second.deadline.Passed(now)) {
                expired.push_back(std::move(it->second.callback));
                it = pending.erase(it);
            } else {
                earliest = std::min(earliest, it->second.deadline.When());
                ++it;
            }
        }
    }
    for (auto& callback : expired) RunQuietly(callback, Reply{Status::TimedOut, {}, "timed out"});
}

void Session::Core::FailAll() {
    std::map<int64_t, Pending> failed;
    {
        std::lock_guard lock(mutex);
        failed.swap(pending);
        earliest = kNoDeadline;
    }
    for (auto& [id, request] : failed) RunQuietly(request.callback, Reply{Status::Closed, {}, "closed"});
}

void Session::Core::Dispatch(std::string_view text) {
    json message = json::parse(text.begin(), text.end(), nullptr, false);
    if (!message.is_object()) return;
    auto id = message.find("id");
    if (id != message.end() && id->is_number_integer()) {
        Callback callback = Take(id->get<int64_t>());
        if (!callback) return;  // a late answer to a request that timed out
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
        RunQuietly(callback, std::move(reply));
        return;
    }
    auto method = message.find("method");
    if (method == message.end() || !method->is_string()) return;
    std::shared_ptr<const EventHandler> handler;
    {
        std::lock_guard lock(mutex);
        handler = onEvent;
    }
    if (!handler || !*handler) return;
    static const json kEmpty = json::object();
    static const std::string kNone;
    auto params = message.find("params");
    auto session = message.find("sessionId");
    (*handler)(method->get_ref<const std::string&>(), params != message.end() ? *params : kEmpty,
               session != message.end() && session->is_string() ? session->get_ref<const std::string&>() : kNone);
}

void Session::Core::ReaderLoop() {
    for (;;) {
        Millis wait = kReaderWaitMs;
        {
            std::lock_guard lock(mutex);
            if (earliest != kNoDeadline) wait = std::clamp<Millis>(earliest - NowMillis() + 1, 1, kReaderWaitMs);
        }
        std::string_view text;
        WebSocket::Status status = socket.Receive(text, static_cast<int>(wait));
        if (status == WebSocket::Status::Closed) break;
        if (status == WebSocket::Status::Message) {
            try {
                Dispatch(text);
            } catch (...) {
                // A malformed message or a failing handler must not end the reader.
            }
        }
        FailExpired();
    }
    alive = false;
    FailAll();
}

Session::Session() : core_(std::make_shared<Core>()) {}

Session::~Session() { Close(); }

void Session::SetEventHandler(EventHandler handler) {
    auto shared = std::make_shared<const EventHandler>(std::move(handler));
    std::lock_guard lock(core_->mutex);
    core_->onEvent = std::move(shared);
}

bool Session::Open(const std::string& host, int port, const std::string& path, Deadline deadline) {
    Core& core = *core_;
    std::lock_guard lock(core.threadMutex);
    if (core.closed || core.reader.joinable()) return false;
    if (!core.socket.Connect(host.c_str(), port, path, deadline)) return false;
    core.alive = true;
    core.reader = std::thread([keep = core_] {
        keep->readerId = std::this_thread::get_id();
        keep->ReaderLoop();
        keep->readerId = std::thread::id();
    });
    return true;
}

bool Session::Alive() const { return core_->alive; }

void Session::Close() {
    Core& core = *core_;
    core.socket.Shutdown();
    std::thread reader;
    {
        std::lock_guard lock(core.threadMutex);
        core.closed = true;
        reader = std::move(core.reader);
    }
    // Again: an Open that ran meanwhile has connected by now, and no other can start.
    core.socket.Shutdown();
    if (reader.joinable()) {
        // From the reader itself (a callback or an event): it ends when the callback returns.
        if (reader.get_id() == std::this_thread::get_id())
            reader.detach();
        else
            reader.join();
    }
    core.alive = false;
    core.FailAll();
}

void Session::Send(const std::string& method, json params, const std::string& sessionId, Deadline deadline,
                   Callback callback) {
    Core& core = *core_;
    json message = {{"method", method}, {"params", std::move(params)}};
    if (!sessionId.empty()) message["sessionId"] = sessionId;
    int64_t id;
    {
        std::lock_guard lock(core.mutex);
        id = core.nextId++;
        if (callback) {
            core.pending.emplace(id, Pending{std::move(callback), deadline});
            core.earliest = std::min(core.earliest, deadline.When());
        }
    }
    message["id"] = id;
    const std::string text = message.dump(-1, ' ', false, json::error_handler_t::replace);
    if (core.alive && core.socket.SendText(text)) return;
    if (Callback failed = core.Take(id)) RunQuietly(failed, Reply{Status::Closed, {}, "closed"});
}

Reply Session::Call(const std::string& method, json params, const std::string& sessionId, Deadline deadline) {
    if (core_->readerId.load() == std::this_thread::get_id())
        return Reply{Status::TimedOut, {}, "called on the reader thread"};
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

}  // namespace wkechr
