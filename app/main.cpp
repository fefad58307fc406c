#include "app/winwardenapp.h"

#include <QApplication>
#include <QLibraryInfo>
#include <QTranslator>

int main(int argc, char* argv[]) {
    QApplication application(argc, argv);
    // Every text of the program is Chinese; Qt's own buttons ("OK", "Cancel") and file dialogs
    // should be too, whatever the desktop's locale.
    QTranslator qtTexts;
    if (qtTexts.load(QStringLiteral("qtbase_zh_CN"),
                     QLibraryInfo::path(QLibraryInfo::TranslationsPath)))
        QApplication::installTranslator(&qtTexts);
    winwarden::CWinwardenApp app;
    QStringList arguments = QApplication::arguments();
    arguments.removeFirst();
    if (!app.InitInstance(arguments)) {
        return app.FailureStatus();
    }
    return QApplication::exec();
}
