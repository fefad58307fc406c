#include "engine/clock.h"

#include <QElapsedTimer>

namespace winwarden {

namespace {

class RealClock final : public Clock {
public:
    RealClock() { m_start.start(); }
    // QElapsedTimer's clock is CLOCK_MONOTONIC: no steps, and no time counted while suspended.
    qint64 MonotonicMs() const override { return m_start.elapsed(); }
    QDateTime Now() const override { return QDateTime::currentDateTime(); }

private:
    QElapsedTimer m_start;
};

} // namespace

std::shared_ptr<Clock> SystemClock() {
    static const std::shared_ptr<Clock> clock = std::make_shared<RealClock>();
    return clock;
}

} // namespace winwarden
