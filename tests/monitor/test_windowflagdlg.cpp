// The flag dialog, run modally and answered from inside its own loop.
#include "monitor/windowflagdlg.h"
#include "tests/support/modalanswer.h"

#include <QApplication>
#include <QDesktopServices>
#include <QLineEdit>
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

    // The checked radio, whether "打开窗口" is enabled, the flag field and the focus.
    static QString Observe(QWidget* modal) {
        QStringList seen;
        for (const QRadioButton* radio : modal->findChildren<QRadioButton*>())
            if (radio->isChecked())
                seen << radio->objectName().mid(5);
        seen << (Child<QPushButton>(modal, "openWindow")->isEnabled() ? u"open"_s : u"-"_s)
             << Child<QLineEdit>(modal, "flag")->text() << modal->focusWidget()->objectName();
        return seen.join(u',');
    }

    // The dialog over `flag` and `url`, given these actions in turn: "?" notes what Observe()
    // sees, "+text" types, "close" is the close box, a child's name clicks it, anything else is
    // a key for the focus. What it noted, then exec()'s result, the flag and what was opened.
    QString Answer(const QString& flag, const QString& url, const QString& actions) {
        const QString name = u"新闻 %2 首页 - Microsoft Internet Explorer"_s;
        CWindowFlagDlg dialog;
        dialog.m_strWindowName = name, dialog.m_strUrl = url, dialog.m_strFlag = flag;
        QStringList got;
        QTimer boxWatch; // the link box opens inside the dialog's step, in a loop of its own
        connect(&boxWatch, &QTimer::timeout, [&got] {
            auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
            if (!box || box->objectName() != u"linkNotOpenedBox")
                return;
            if (box->textInteractionFlags() & Qt::TextSelectableByMouse)
                got << u"box:"_s + box->text().section(u'\n', 1);
            box->accept();
        });
        boxWatch.start(5);
        ModalAnswer answer({[&](QWidget* modal) {
            for (const QString& action : actions.split(u' ')) {
                auto* named = modal->findChild<QWidget*>(action);
                if (action == u"?")
                    got << Observe(modal);
                else if (action == u"close")
                    modal->close();
                else if (action.startsWith(u'+'))
                    QTest::keyClicks(modal->focusWidget(), action.mid(1));
                else if (named) // through the window: a frame lying on top would take it
                    QTest::mouseClick(modal->windowHandle(), Qt::LeftButton, {},
                                      named->mapTo(modal, named->rect().center()));
                else
                    QTest::keySequence(modal->focusWidget(), QKeySequence(action));
            }
        }});
        got << QString::number(dialog.exec()) << dialog.m_strFlag;
        for (const QUrl& opened : std::exchange(m_opened, {}))
            got << (opened == QUrl(url) ? u"opened"_s : opened.toString());
        if (answer.forced() != 0)
            got << u"forced"_s;
        if (Child<QLineEdit>(&dialog, "windowName")->text() != name ||
            Child<QLineEdit>(&dialog, "url")->text() != url)
            got << u"cut"_s; // the read-only fields show their texts whole
        return got.join(u' ');
    }

public Q_SLOTS:
    void open(const QUrl& url) { m_opened.append(url); }

private Q_SLOTS:
    void initTestCase() {
        for (const QString& scheme : {u"https"_s, u"file"_s})
            QDesktopServices::setUrlHandler(scheme, this, "open");
        // A handler that cannot be called: the desktop fails to open plain http.
        QDesktopServices::setUrlHandler(u"http"_s, this, "refuse");
    }

    // Tab order: cancel ok windowName url flag openWindow. Enter presses the focused button and
    // means OK elsewhere; "打开窗口" ends like OK and opens only web addresses; one it cannot
    // open is shown in a box.
    void dialogAnswers() {
        const QString pass = u"通过"_s, block = u"禁止"_s, web = u"https://a.org/?id=1&x=%2"_s;
        QCOMPARE(Answer(pass, web, u"? ok"_s), u"Pass,open,通过,cancel 1 通过"_s);
        QCOMPARE(Answer(u"通过 "_s, web, u"? ok"_s), u"Block,-,通过 ,cancel 1 通过 "_s);
        QCOMPARE(Answer({}, web, u"? radioBlock ? radioPass ? ok"_s),
                 u"Block,-,,cancel Block,-,禁止,radioBlock Pass,open,通过,radioPass 1 通过"_s);
        QCOMPARE(Answer(pass, web, u"cancel"_s), u"2 通过"_s);
        QCOMPARE(Answer(pass, web, u"close"_s), u"2 通过"_s);
        QCOMPARE(Answer(pass, web, u"Return"_s), u"2 通过"_s);
        QCOMPARE(Answer(block, web, u"Tab Tab Tab Return"_s), u"1 禁止"_s);
        QCOMPARE(Answer(pass, web, u"Backtab Return"_s), u"1 通过 opened"_s);
        QCOMPARE(Answer(block, web, u"radioPass openWindow"_s), u"1 通过 opened"_s);
        QCOMPARE(Answer(pass, u"file:/a"_s, u"openWindow"_s), u"box:file:/a 1 通过"_s);
        QCOMPARE(Answer(block, u"http://a.org/"_s, u"radioPass openWindow"_s),
                 u"box:http://a.org/ 1 通过"_s);
        QCOMPARE(
            Answer(pass, u"https://a.org/?q="_s + QString(40000, u'x'),
                   u"Tab Tab End Backspace +x Tab End Backspace +x Tab End Backspace +x ? ok"_s),
            u"Pass,open,通过,flag 1 通过"_s);
    }
};

QTEST_MAIN(TestWindowFlagDlg)
#include "test_windowflagdlg.moc"
