#pragma once

#include "monitor/winwardenview.h"
#include "survey/browsersnapshot.h"
#include "tests/support/fakes.h"
#include "tests/support/testdb.h"

#include <QStringList>
#include <QTableWidget>

namespace winwarden::test {

// A real view over a fresh rule database, watching fake windows.
struct ViewRig {
    TempRuleDb db;
    BrowserSnapshot snapshot;
    FakeShellWindows shell;
    FakeTopLevelWindows windows;
    CWinwardenView view{nullptr, {&shell, &windows, &snapshot, db.path()}};

    QString Cell(int row, int column) const {
        return view.ListControl()->model()->index(row, column).data().toString();
    }
    // The list as "caption|flag|url" lines.
    QStringList Rows() const {
        QStringList rows;
        for (int r = 0; r < view.ListControl()->rowCount(); ++r)
            rows << Cell(r, 0) + u'|' + Cell(r, 1) + u'|' + Cell(r, 2);
        return rows;
    }
};

} // namespace winwarden::test
