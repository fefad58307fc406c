#pragma once

#include "app/mainframe.h"
#include "app/winwardenapp.h"
#include "app/winwardendoc.h"
#include "res/commandids.h"
#include "tests/support/fakes.h"
#include "tests/support/testdb.h"

#include <QAction>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>

namespace winwarden::test {

// The whole application over a fresh rule database and a faked browser.
class AppFixture final {
public:
    AppFixture() {
        QStandardPaths::setTestModeEnabled(true);
        m_app = std::make_unique<CWinwardenApp>(MonitorServices{
            .shellWindows = &m_shell, .topLevelWindows = &m_windows, .databasePath = m_db.path()});
    }

    bool Start(const QStringList& arguments = {}) { return m_app->InitInstance(arguments); }
    CWinwardenApp& App() { return *m_app; }
    CMainFrame& Frame() { return *m_app->MainFrame(); }
    CWinwardenDoc& Doc() { return *m_app->Document(); }
    CWinwardenView& View() { return *Frame().View(); }
    TempRuleDb& Db() { return m_db; }
    void TriggerMenu(int commandId) { Frame().MenuAction(commandId)->trigger(); }

private:
    TempRuleDb m_db;
    FakeShellWindows m_shell;
    FakeTopLevelWindows m_windows;
    std::unique_ptr<CWinwardenApp> m_app;
};

} // namespace winwarden::test
