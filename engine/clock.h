#pragma once

#include <QDateTime>
#include <memory>

namespace winwarden {

// Where the engine takes the time from, and the one place it does: durations (how long a page
// was open or in front, how much of an allowance is used) come from a clock that never jumps,
// days and schedules from the local wall time. Tests hand the engine a clock they set, so that
// midnight or a change of daylight saving time is tested at the instant, not waited for.
class Clock {
public:
    virtual ~Clock() = default;
    // Milliseconds since some fixed point; never goes back, whatever the wall time does, and
    // does not run while the machine is suspended.
    virtual qint64 MonotonicMs() const = 0;
    // The local wall time now (the system's time zone).
    virtual QDateTime Now() const = 0;
};

// The system's clocks.
std::shared_ptr<Clock> SystemClock();

} // namespace winwarden
