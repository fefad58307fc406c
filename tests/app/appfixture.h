#pragma once

#include "app/mainframe.h"
#include "app/winwardenapp.h"
#include "app/winwardendoc.h"
#include "tests/support/fakes.h"
#include "tests/support/testdb.h"

#include <QAction>
#include <QSettings>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>
#include <memory>
#include <stdexcept>

namespace winwarden::test {

// The whole application over a fresh rule database, with the browser faked and the
// settings kept in a temporary place.
class AppFixture final {
public:
    AppFixture() {
        QStandardPaths::setTestModeEnabled(true);
        if (!m_settingsDir.isValid()) {
            throw std::runtime_error("no temporary settings directory");
        }
        QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, m_settingsDir.path());
        MonitorServices services;
        services.shellWindows = &m_shell;
        services.topLevelWindows = &m_windows;
        services.databasePath = m_db.path();
        m_app = std::make_unique<CWinwardenApp>(services);
    }

    // Starts the application as a start without arguments would.
    bool Start(const QStringList& arguments = {}) { return m_app->InitInstance(arguments); }

    CWinwardenApp& App() { return *m_app; }
    CMainFrame& Frame() { return *m_app->MainFrame(); }
    CWinwardenDoc& Doc() { return *m_app->Document(); }
    CWinwardenView& View() { return *Frame().View(); }
    TempRuleDb& Db() { return m_db; }
    FakeShellWindows& Shell() { return m_shell; }
    QString SettingsDir() const { return m_settingsDir.path(); }

    // Sends a command the way its menu item does.
    void TriggerMenu(int commandId) {
        QAction* action = Frame().MenuAction(commandId);
        if (action == nullptr) {
            throw std::runtime_error("no menu item for the command");
        }
        action->trigger();
    }

private:
    QTemporaryDir m_settingsDir;
    TempRuleDb m_db;
    FakeShellWindows m_shell;
    FakeTopLevelWindows m_windows;
    std::unique_ptr<CWinwardenApp> m_app;
};

} // namespace winwarden::test
