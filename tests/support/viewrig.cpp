#include "tests/support/viewrig.h"

#include <QSignalSpy>
#include <QTest>

namespace winwarden::test {

void EngineRig::Tick() {
    QSignalSpy finished(&engine, &MonitorEngine::cycleFinished);
    engine.OnTimer();
    if (!finished.wait(10000))
        qFatal("the monitor cycle did not finish");
    engine.WaitForCloseRequests();
}

} // namespace winwarden::test
