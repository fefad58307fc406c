#pragma once

#include "app/mainframe.h"
#include "app/winwardenapp.h"
#include "app/winwardendoc.h"
#include "res/commandids.h"
#include "tests/support/fakesource.h"
#include "tests/support/testdb.h"

#include <QAction>
#include <QSettings>
#include <QStandardPaths>
#include <QTest>

namespace winwarden::test {

// The whole application over a fresh rule database, a faked browser and throwaway settings.
class AppFixture final {
public:
    AppFixture() {
        QStandardPaths::setTestModeEnabled(true);
        QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, m_settings.path());
        m_app = std::make_unique<CWinwardenApp>(
            MonitorServices{std::unique_ptr<BrowserSource>(m_source), m_db.path(), {}});
    }

    bool Start(const QStringList& arguments = {}) { return m_app->InitInstance(arguments); }
    CWinwardenApp& App() { return *m_app; }
    CMainFrame& Frame() { return *m_app->MainFrame(); }
    CWinwardenDoc& Doc() { return *m_app->Document(); }
    CWinwardenView& View() { return *Frame().View(); }
    TempRuleDb& Db() { return m_db; }
    FakeBrowserSource& Source() { return *m_source; }
    void TriggerMenu(int commandId) { Frame().MenuAction(commandId)->trigger(); }

private:
    QTemporaryDir m_settings;
    TempRuleDb m_db;
    FakeBrowserSource* m_source = new FakeBrowserSource; // owned by the application
    std::unique_ptr<CWinwardenApp> m_app;
};

} // namespace winwarden::test
