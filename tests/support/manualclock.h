#pragma once

#include "engine/clock.h"

namespace winwarden::test {

// A clock that stands still until the test moves it: both readings move together, unless the
// test sets the wall time alone (a clock stepped by hand or by NTP).
class ManualClock final : public Clock {
public:
    explicit ManualClock(QDateTime now) : m_now(std::move(now)) {}
    qint64 MonotonicMs() const override { return m_monotonic; }
    QDateTime Now() const override { return m_now; }

    void Advance(qint64 ms) {
        m_monotonic += ms;
        m_now = m_now.addMSecs(ms);
    }
    void SetWallTime(const QDateTime& now) { m_now = now; }

private:
    qint64 m_monotonic = 0;
    QDateTime m_now;
};

} // namespace winwarden::test
