// The flag dialog, run modally and answered from inside its own loop.
#include "monitor/windowflagdlg.h"
#include "tests/support/modalanswer.h"

#include <QDesktopServices>
#include <QGroupBox>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QTest>

using namespace winwarden;
using namespace winwarden::test;
using namespace Qt::StringLiterals;

class TestWindowFlagDlg final : public QObject {
    Q_OBJECT
    const QString kUrl = u"https://example.org/news?id=1&x=%2"_s;
    QList<QUrl> m_opened;

    // The checked radio ("Pass", "Block"), whether "打开窗口" is enabled, the flag field and the
    // focus.
    static QString Observe(QWidget* modal) {
        QStringList seen;
        for (const QRadioButton* radio : modal->findChildren<QRadioButton*>())
            if (radio->isChecked())
                seen << radio->objectName().mid(5);
        seen << (Child<QPushButton>(modal, "openWindow")->isEnabled() ? u"open"_s : u"-"_s)
             << Child<QLineEdit>(modal, "flag")->text() << modal->focusWidget()->objectName();
        return seen.join(u',');
    }

public Q_SLOTS:
    void open(const QUrl& url) { m_opened.append(url); }

private Q_SLOTS:
    void initTestCase() {
        for (const QString& scheme : {u"http"_s, u"https"_s, u"file"_s, u"mailto"_s})
            QDesktopServices::setUrlHandler(scheme, this, "open");
    }
    void init() { m_opened.clear(); }

    // Actions in turn: "?" notes what Observe() sees, "@x" focuses x, "+text" types, "close"
    // is the close box, a child's name clicks it, anything else is a key for the focus. No
    // button is the default: Enter presses the focused one and means OK elsewhere. "打开窗口"
    // ends like OK and opens only web addresses. The read-only fields show their texts whole.
    void dialogAnswers_data() {
        QTest::addColumn<QString>("flag");
        QTest::addColumn<QString>("url");
        QTest::addColumn<QString>("actions");
        QTest::addColumn<QString>("outcome");
        const QString pass = u"通过"_s, block = u"禁止"_s, web = kUrl;
        QTest::newRow("pass") << pass << web << u"? ok"_s << u"Pass,open,通过,cancel 1 通过"_s;
        QTest::newRow("block") << block << web << u"? ok"_s << u"Block,-,禁止,cancel 1 禁止"_s;
        QTest::newRow("empty") << QString() << web << u"? ok"_s << u"Block,-,,cancel 1 "_s;
        QTest::newRow("other") << u"通过 "_s << web << u"? ok"_s
                               << u"Block,-,通过 ,cancel 1 通过 "_s;
        QTest::newRow("radios") << QString() << web << u"radioBlock ? radioPass ? radioPass ? ok"_s
                                << u"Block,-,禁止,radioBlock Pass,open,通过,radioPass "
                                   u"Pass,open,通过,radioPass 1 通过"_s;
        QTest::newRow("cancel") << pass << web << u"cancel"_s << u"2 通过"_s;
        QTest::newRow("escape") << pass << web << u"Escape"_s << u"2 通过"_s;
        QTest::newRow("close box") << pass << web << u"close"_s << u"2 通过"_s;
        QTest::newRow("enter at once") << pass << web << u"Return"_s << u"2 通过"_s;
        QTest::newRow("enter in a field") << block << web << u"@url Return"_s << u"1 禁止"_s;
        QTest::newRow("enter on open")
            << pass << web << u"@openWindow Return"_s << u"1 通过 opened"_s;
        QTest::newRow("pass, open")
            << block << web << u"radioPass openWindow"_s << u"1 通过 opened"_s;
        QTest::newRow("file") << pass << u"file:/a"_s << u"openWindow"_s << u"1 通过"_s;
        QTest::newRow("mail") << pass << u"mailto:a@b"_s << u"openWindow"_s << u"1 通过"_s;
        QTest::newRow("no address") << pass << QString() << u"openWindow"_s << u"1 通过"_s;
        QTest::newRow("typing") << pass << u"https://example.org/?q="_s + QString(40000, u'x')
                                << u"@windowName End Backspace +x @url End Backspace +x "
                                   u"@flag End Backspace +x ? ok"_s
                                << u"Pass,open,通过,flag 1 通过"_s;
    }
    void dialogAnswers() {
        QFETCH(QString, flag);
        QFETCH(QString, url);
        QFETCH(QString, actions);
        QFETCH(QString, outcome);
        const QString name = u"新闻 %2 首页 - Microsoft Internet Explorer"_s;
        CWindowFlagDlg dialog;
        dialog.m_strWindowName = name;
        dialog.m_strUrl = url;
        dialog.m_strFlag = flag;
        QStringList got;
        ModalAnswer answer({[&](QWidget* modal) {
            for (const QString& action : actions.split(u' ')) {
                auto* named = modal->findChild<QWidget*>(action.mid(action.startsWith(u'@')));
                if (action == u"?")
                    got << Observe(modal);
                else if (action == u"close")
                    modal->close();
                else if (action.startsWith(u'+'))
                    QTest::keyClicks(modal->focusWidget(), action.mid(1));
                else if (action.startsWith(u'@'))
                    named->setFocus();
                else if (named)
                    QTest::mouseClick(named, Qt::LeftButton);
                else
                    QTest::keySequence(modal->focusWidget(), QKeySequence(action));
            }
        }});
        got << QString::number(dialog.exec()) << dialog.m_strFlag;
        if (!m_opened.isEmpty())
            got << (m_opened == QList<QUrl>{QUrl(url)} ? u"opened"_s : u"opened elsewhere"_s);
        QCOMPARE(answer.forced(), 0);
        QCOMPARE(got.join(u' '), outcome);
        const auto shown = [&](const char* field) {
            return Child<QLineEdit>(&dialog, field)->text();
        };
        QCOMPARE(shown("windowName") + shown("url"), name + url);
        QCOMPARE(dialog.m_strWindowName + dialog.m_strUrl, name + url);
    }

    // Frames around their controls, every control on top where the mouse hits it, tab order
    // as designed.
    void layoutFollowsTheTemplate() {
        CWindowFlagDlg dialog;
        dialog.show();
        QVERIFY(QTest::qWaitForWindowExposed(&dialog));
        QCOMPARE(dialog.windowTitle(), u"修改窗口标记"_s);
        QHash<QString, QRect> frames;
        for (const QGroupBox* frame : dialog.findChildren<QGroupBox*>())
            frames.insert(frame->title(), frame->geometry());
        for (const QString& line : {u"信息 windowName url"_s, u"选择 flag radioPass radioBlock"_s,
                                    u"操作 openWindow ok cancel"_s}) {
            const QStringList names = line.split(u' ');
            QVERIFY(frames.value(QString()).contains(frames.value(names[0])));
            for (const QString& name : names.mid(1))
                QVERIFY2(
                    frames.value(names[0]).contains(dialog.findChild<QWidget*>(name)->geometry()),
                    qPrintable(name));
        }
        for (QWidget* child : dialog.findChildren<QWidget*>(Qt::FindDirectChildrenOnly)) {
            QVERIFY(dialog.rect().contains(child->geometry()));
            QVERIFY(qobject_cast<QGroupBox*>(child) ||
                    dialog.childAt(child->geometry().center()) == child);
        }
        QStringList tabOrder;
        QWidget* const first = Child<QPushButton>(&dialog, "cancel");
        for (QWidget* w = first; tabOrder.isEmpty() || w != first; w = w->nextInFocusChain())
            if (w->focusPolicy() & Qt::TabFocus)
                tabOrder.append(w->objectName());
        QCOMPARE(tabOrder.join(u' '), u"cancel ok windowName url flag openWindow"_s);
    }
};

QTEST_MAIN(TestWindowFlagDlg)
#include "test_windowflagdlg.moc"
