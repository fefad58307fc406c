// The flag dialog, run modally and answered from inside its own loop.
#include "monitor/windowflagdlg.h"
#include "tests/support/modalanswer.h"

#include <QApplication>
#include <QDesktopServices>
#include <QMessageBox>
#include <QPushButton>
#include <QRadioButton>
#include <QTest>

using namespace winwarden;
using namespace winwarden::test;
using namespace Qt::StringLiterals;

class TestWindowFlagDlg final : public QObject {
    Q_OBJECT
    QList<QUrl> m_opened;

    // The dialog over `flag` and `url`, given these actions in turn: "?" notes the checked radio
    // and whether "打开窗口" is enabled, a child's name clicks it, anything else is a key for the
    // focus. What it noted and any link box, then exec()'s result, the flag and what was opened.
    QString Answer(const QString& flag, const QString& url, const QString& actions) {
        CWindowFlagDlg dialog;
        dialog.m_strWindowName = u"新闻 %2"_s, dialog.m_strUrl = url, dialog.m_strFlag = flag;
        QStringList got;
        ModalAnswer answer({[&](QWidget* modal) {
            for (const QString& action : actions.split(u' ')) {
                if (action == u"?")
                    got << (Child<QRadioButton>(modal, "radioPass")->isChecked() ? u"Pass"_s
                                                                                 : u"Block"_s) +
                               (Child<QPushButton>(modal, "openWindow")->isEnabled() ? u"+"_s
                                                                                     : u"-"_s);
                else if (auto* named = modal->findChild<QWidget*>(action))
                    QTest::mouseClick(modal->windowHandle(), Qt::LeftButton, {},
                                      named->mapTo(modal, named->rect().center()));
                else
                    QTest::keySequence(modal->focusWidget(), QKeySequence(action));
            }
        }});
        QTimer boxWatch; // the link box opens inside the dialog's step, in a loop of its own
        connect(&boxWatch, &QTimer::timeout, [&got] {
            if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget())) {
                got << u"box:"_s + box->text().section(u'\n', 1);
                box->accept();
            }
        });
        boxWatch.start(5);
        got << QString::number(dialog.exec()) << dialog.m_strFlag;
        for (const QUrl& opened : std::exchange(m_opened, {}))
            got << (opened == QUrl(url) ? u"opened"_s : opened.toString());
        return got.join(u' ');
    }

public Q_SLOTS:
    void open(const QUrl& url) { m_opened.append(url); }

private Q_SLOTS:
    // Only the exact "通过" checks 通过. Enter presses the focused button (cancel at first) and
    // means OK elsewhere; "打开窗口" ends like OK and opens only web addresses (one the desktop
    // cannot open shown in a box: app.test_mainframe).
    void dialogAnswers() {
        QDesktopServices::setUrlHandler(u"https"_s, this, "open");
        const QString pass = u"通过"_s, block = u"禁止"_s, web = u"https://a.org/?id=1&x=%2"_s;
        QCOMPARE(Answer(u"通过 "_s, web, u"? ok"_s), u"Block- 1 通过 "_s);
        QCOMPARE(Answer({}, web, u"? radioBlock ? radioPass ? ok"_s),
                 u"Block- Block- Pass+ 1 通过"_s);
        QCOMPARE(Answer(pass, web, u"Return"_s), u"2 通过"_s);
        QCOMPARE(Answer(block, web, u"Tab Tab Tab Return"_s), u"1 禁止"_s);
        QCOMPARE(Answer(block, web, u"radioPass openWindow"_s), u"1 通过 opened"_s);
        QCOMPARE(Answer(pass, u"file:/a"_s, u"openWindow"_s), u"box:file:/a 1 通过"_s);
    }
};

QTEST_MAIN(TestWindowFlagDlg)
#include "test_windowflagdlg.moc"
