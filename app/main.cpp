#include "app/linkopener.h"
#include "app/mainframe.h"
#include "app/singleinstance.h"
#include "app/winwardenapp.h"
#include "control/controlprotocol.h"
#include "platform/programlog.h"
#include "res/version.h"
#include "store/databasename.h"

#include <QApplication>
#include <QLibraryInfo>
#include <QTranslator>

int main(int argc, char* argv[]) {
    // Answered before any display is needed.
    if (winwarden::res::PrintVersionIfAsked(argc, argv, "winwarden")) {
        return 0;
    }
    QApplication application(argc, argv);
    // Every text of the program is Chinese; Qt's own buttons ("OK", "Cancel") and file dialogs
    // should be too, whatever the desktop's locale.
    QTranslator qtTexts;
    if (qtTexts.load(QStringLiteral("qtbase_zh_CN"),
                     QLibraryInfo::path(QLibraryInfo::TranslationsPath)))
        QApplication::installTranslator(&qtTexts);

    // A second copy for the same rules would record and close pages twice: the first one
    // comes forward instead.
    const QString database = winwarden::DatabaseNameFromEnvironment();
    winwarden::SingleInstance instance(database);
    switch (instance.ClaimDatabase()) {
    case winwarden::SingleInstance::Claim::HandedOver:
        return 0;
    case winwarden::SingleInstance::Claim::Unanswered:
        winwarden::LogLine(
            QStringLiteral("另一个浏览哨兵占用着 %1，但没有应答").arg(instance.SocketPath()));
        return 1;
    case winwarden::SingleInstance::Claim::First:
        break;
    }

    winwarden::CWinwardenApp app(winwarden::MonitorServices{
        nullptr, database, QString::fromLatin1(winwarden::kGuardControlSocket)});
    QStringList arguments = QApplication::arguments();
    arguments.removeFirst();
    if (!app.InitInstance(arguments)) {
        return app.FailureStatus();
    }
    const winwarden::LinkOpener links(app.MainFrame());
    QObject::connect(&instance, &winwarden::SingleInstance::showRequested, app.MainFrame(),
                     &winwarden::CMainFrame::ShowFromTray);
    return QApplication::exec();
}
