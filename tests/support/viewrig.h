#pragma once

#include "engine/monitorengine.h"
#include "monitor/winwardenview.h"
#include "tests/support/fakesource.h"
#include "tests/support/testdb.h"

#include <QSignalSpy>
#include <QStringList>
#include <QTableWidget>

namespace winwarden::test {

// A monitor engine over a fresh rule database, watching a fake browser source.
struct EngineRig {
    TempRuleDb db;
    FakeBrowserSource* source = new FakeBrowserSource; // owned by the engine
    MonitorEngine engine{std::unique_ptr<BrowserSource>(source)};

    EngineRig() { engine.OpenStore(db.path()); }
    // One tick, waited for until its cycle and its close requests are done.
    void Tick() {
        QSignalSpy finished(&engine, &MonitorEngine::cycleFinished);
        // A pass a rule change asked for may still be out: the tick's own pass comes after it,
        // or it would end with the pages of before.
        if (engine.PassOut() && !finished.wait(10000))
            qFatal("the monitor cycle did not finish");
        finished.clear();
        engine.OnTimer();
        if (!finished.wait(10000))
            qFatal("the monitor cycle did not finish");
        engine.WaitForCloseRequests();
    }
};

// The rows a view lists, "caption|flag|url" each.
inline QStringList Rows(const CWinwardenView& view) {
    QStringList rows;
    for (int r = 0; r < view.ListControl()->rowCount(); ++r)
        rows << view.CellText(r, 0) + u'|' + view.CellText(r, 1) + u'|' + view.CellText(r, 2);
    return rows;
}

// The texts of a list's column, top to bottom; of the rows shown alone, if asked.
inline QStringList Column(const QTableWidget* list, int column, bool shownOnly = false) {
    QStringList cells;
    for (int row = 0; row < list->rowCount(); ++row)
        if (!shownOnly || !list->isRowHidden(row))
            cells << list->item(row, column)->text();
    return cells;
}

// A real view over such an engine.
struct ViewRig : EngineRig {
    CWinwardenView view{engine};

    QString Cell(int row, int column) const { return view.CellText(row, column); }
    QStringList Rows() const { return test::Rows(view); }
};

} // namespace winwarden::test
