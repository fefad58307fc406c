#include "engine/clock.h"

#include <QElapsedTimer>

namespace winwarden {

namespace {

class RealClock final : public Clock {
public:
    explicit RealClock(qint64 wallOffsetS) : m_wallOffsetS(wallOffsetS) { m_start.start(); }
    // QElapsedTimer's clock is CLOCK_MONOTONIC: no steps, and no time counted while suspended.
    qint64 MonotonicMs() const override { return m_start.elapsed(); }
    QDateTime Now() const override { return QDateTime::currentDateTime().addSecs(m_wallOffsetS); }

private:
    QElapsedTimer m_start;
    qint64 m_wallOffsetS;
};

} // namespace

std::shared_ptr<Clock> SystemClock() {
    // For tests of a whole program only (the guard under its namespaces, with a browser): the
    // wall time it reads is moved by this many seconds, so that a schedule begins when the test
    // wants it to. Nothing installed sets it; the monotonic clock is never moved.
    static const std::shared_ptr<Clock> clock =
        std::make_shared<RealClock>(qEnvironmentVariableIntValue("WINWARDEN_TEST_WALL_OFFSET"));
    return clock;
}

} // namespace winwarden
