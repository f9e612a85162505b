// A point in time that one whole operation passes down to every call it makes, so that no entry
// exceeds its budget by stacking the limits of its calls.
#pragma once

#include <algorithm>
#include <chrono>
#include <cstdint>

namespace wkechr {

// Milliseconds on a monotonic clock; the navigation tracker and tests take such values directly.
using Millis = int64_t;

inline Millis NowMillis() {
    using namespace std::chrono;
    return duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count();
}

class Deadline {
public:
    static Deadline At(Millis when) { return Deadline(when); }
    static Deadline In(Millis ms, Millis now = NowMillis()) { return Deadline(now + std::max<Millis>(0, ms)); }

    Millis When() const { return when_; }
    Millis RemainingMs(Millis now = NowMillis()) const { return std::max<Millis>(0, when_ - now); }
    bool Passed(Millis now = NowMillis()) const { return now >= when_; }
    // The earlier of this deadline and `ms` from now: a call's own cap inside an operation's budget.
    Deadline Within(Millis ms, Millis now = NowMillis()) const { return Deadline(std::min(when_, now + ms)); }

private:
    explicit Deadline(Millis when) : when_(when) {}
    Millis when_;
};

}  // namespace wkechr
