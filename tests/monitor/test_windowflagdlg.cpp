// The flag dialog, run modally and answered from inside its own loop.
#include "monitor/windowflagdlg.h"
#include "tests/support/modalanswer.h"

#include <QDesktopServices>
#include <QGroupBox>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QTest>
#include <QUrl>
#include <memory>

using namespace winwarden;
using namespace winwarden::test;
using namespace Qt::StringLiterals;

namespace {

const QString kName = u"新闻 %2 首页 - Microsoft Internet Explorer"_s;
const QString kUrl = u"https://example.org/news?id=1&x=%2"_s;

// What the dialog shows: checked radio, open button, the three fields, the focus.
QStringList Observe(QWidget* modal) {
    QStringList seen;
    seen << (Child<QRadioButton>(modal, "radioPass")->isChecked() ? u"pass"_s : u""_s)
         << (Child<QRadioButton>(modal, "radioBlock")->isChecked() ? u"block"_s : u""_s)
         << (Child<QPushButton>(modal, "openWindow")->isEnabled() ? u"open"_s : u""_s);
    for (const char* field : {"windowName", "url", "flag"})
        seen << Child<QLineEdit>(modal, field)->text();
    seen << (modal->focusWidget() ? modal->focusWidget()->objectName() : QString());
    return seen;
}

void Press(QWidget* modal, const char* button) {
    QTest::mouseClick(Child<QPushButton>(modal, button), Qt::LeftButton);
}

// Fills a dialog, runs it with `step` answering, and returns exec()'s result.
int Run(CWindowFlagDlg& dialog, const QString& flag, const ModalAnswer::Step& step,
        const QString& url = kUrl) {
    dialog.m_strWindowName = kName;
    dialog.m_strUrl = url;
    dialog.m_strFlag = flag;
    ModalAnswer answer({step});
    const int result = dialog.exec();
    return answer.forced() == 0 ? result : -1;
}

} // namespace

// Takes over opening web and local addresses while it lives, and records them.
class UrlSink final : public QObject {
    Q_OBJECT
public:
    UrlSink() {
        for (const QString& scheme : kSchemes)
            QDesktopServices::setUrlHandler(scheme, this, "open");
    }
    ~UrlSink() override {
        for (const QString& scheme : kSchemes)
            QDesktopServices::unsetUrlHandler(scheme);
    }
    QList<QUrl> opened;
public Q_SLOTS:
    void open(const QUrl& url) { opened.append(url); }

private:
    const QStringList kSchemes{u"http"_s, u"https"_s, u"file"_s, u"mailto"_s};
};

class TestWindowFlagDlg final : public QObject {
    Q_OBJECT
    std::unique_ptr<UrlSink> m_sink;

private Q_SLOTS:
    void init() { m_sink = std::make_unique<UrlSink>(); }
    void cleanup() { m_sink.reset(); }

    void flagDecidesTheState_data() {
        QTest::addColumn<QString>("flag");
        QTest::addColumn<bool>("pass");
        QTest::newRow("pass") << u"通过"_s << true;
        QTest::newRow("block") << u"禁止"_s << false;
        QTest::newRow("empty") << QString() << false;
        QTest::newRow("other text") << u"通过 "_s << false;
    }

    // OK without a click hands back the caller's text, whatever it was.
    void flagDecidesTheState() {
        QFETCH(QString, flag);
        QFETCH(bool, pass);
        CWindowFlagDlg dialog;
        QStringList seen;
        QCOMPARE(Run(dialog, flag,
                     [&](QWidget* modal) {
                         seen = Observe(modal);
                         Press(modal, "ok");
                     }),
                 1);
        QCOMPARE(seen, (QStringList{pass ? u"pass"_s : u""_s, pass ? u""_s : u"block"_s,
                                    pass ? u"open"_s : u""_s, kName, kUrl, flag, u"cancel"_s}));
        QCOMPARE(dialog.m_strFlag, flag);
        QCOMPARE(dialog.m_strUrl, kUrl);
    }

    // Each radio sets the flag, its field and the open button; the checked one again is a no-op.
    void radioButtonsSwitchTheFlag() {
        CWindowFlagDlg dialog;
        QList<QStringList> states;
        QCOMPARE(Run(dialog, QString(),
                     [&](QWidget* modal) {
                         for (const char* radio : {"radioBlock", "radioPass", "radioPass"}) {
                             Child<QRadioButton>(modal, radio)->click();
                             states.append(Observe(modal).mid(0, 6));
                         }
                         Press(modal, "ok");
                     }),
                 1);
        const QStringList block{u""_s, u"block"_s, u""_s, kName, kUrl, u"禁止"_s};
        const QStringList pass{u"pass"_s, u""_s, u"open"_s, kName, kUrl, u"通过"_s};
        QCOMPARE(states, (QList<QStringList>{block, pass, pass}));
        QCOMPARE(dialog.m_strFlag, u"通过"_s);
    }

    void cancelWays_data() {
        QTest::addColumn<int>("way");
        QTest::newRow("cancel button") << 0;
        QTest::newRow("escape") << 1;
        QTest::newRow("close box") << 2;
        QTest::newRow("enter right after opening") << 3;
    }

    void cancelWays() {
        QFETCH(int, way);
        CWindowFlagDlg dialog;
        QCOMPARE(Run(dialog, u"通过"_s,
                     [way](QWidget* modal) {
                         if (way == 0)
                             Press(modal, "cancel");
                         else if (way == 2)
                             modal->close();
                         else
                             QTest::keyClick(modal->focusWidget(),
                                             way == 1 ? Qt::Key_Escape : Qt::Key_Return);
                     }),
                 2);
        QVERIFY(m_sink->opened.isEmpty());
    }

    // No button is the default: Enter presses the focused button, and means OK elsewhere.
    void enterFollowsTheFocus() {
        CWindowFlagDlg inField;
        QCOMPARE(Run(inField, u"禁止"_s,
                     [](QWidget* modal) {
                         Child<QLineEdit>(modal, "url")->setFocus();
                         QTest::keyClick(modal->focusWidget(), Qt::Key_Return);
                     }),
                 1);
        CWindowFlagDlg onOpen;
        QCOMPARE(Run(onOpen, u"通过"_s,
                     [](QWidget* modal) {
                         Child<QPushButton>(modal, "openWindow")->setFocus();
                         QTest::keyClick(modal->focusWidget(), Qt::Key_Return);
                     }),
                 1);
        QCOMPARE(m_sink->opened, QList<QUrl>{QUrl(kUrl)});
    }

    // "打开窗口" opens the page and ends like OK; only web addresses leave the program.
    void openWindowOpensThePage() {
        CWindowFlagDlg dialog;
        QCOMPARE(Run(dialog, u"禁止"_s,
                     [](QWidget* modal) {
                         Child<QRadioButton>(modal, "radioPass")->click();
                         Press(modal, "openWindow");
                     }),
                 1);
        QCOMPARE(dialog.m_strFlag, u"通过"_s);
        QCOMPARE(m_sink->opened, QList<QUrl>{QUrl(kUrl)});

        for (const QString& local :
             {u"file:///tmp/launch.desktop"_s, u"mailto:a@example.org"_s, QString()}) {
            CWindowFlagDlg other;
            QCOMPARE(
                Run(
                    other, u"通过"_s, [](QWidget* modal) { Press(modal, "openWindow"); }, local),
                1);
        }
        QCOMPARE(m_sink->opened.size(), 1);
    }

    // Typing changes nothing, and a very long address is shown and handed back whole.
    void fieldsAreNotEditable() {
        const QString longUrl = u"https://example.org/?q="_s + QString(40000, u'x');
        CWindowFlagDlg dialog;
        QStringList seen;
        QCOMPARE(Run(
                     dialog, u"通过"_s,
                     [&](QWidget* modal) {
                         for (const char* name : {"windowName", "url", "flag"}) {
                             auto* edit = Child<QLineEdit>(modal, name);
                             edit->setFocus();
                             QTest::keyClick(edit, Qt::Key_End);
                             QTest::keyClick(edit, Qt::Key_Backspace);
                             QTest::keyClicks(edit, u"typed"_s);
                         }
                         seen = Observe(modal).mid(3, 3);
                         Press(modal, "ok");
                     },
                     longUrl),
                 1);
        QCOMPARE(seen, (QStringList{kName, longUrl, u"通过"_s}));
        QCOMPARE(dialog.m_strWindowName, kName);
        QCOMPARE(dialog.m_strUrl, longUrl);
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
        const QList<std::pair<QString, QStringList>> contents = {
            {u"信息"_s, {u"windowName"_s, u"url"_s}},
            {u"选择"_s, {u"flag"_s, u"radioPass"_s, u"radioBlock"_s}},
            {u"操作"_s, {u"openWindow"_s, u"ok"_s, u"cancel"_s}},
        };
        for (const auto& [title, names] : contents) {
            QVERIFY(frames.value(QString()).contains(frames.value(title)));
            for (const QString& name : names)
                QVERIFY2(frames.value(title).contains(dialog.findChild<QWidget*>(name)->geometry()),
                         qPrintable(name));
        }
        for (QWidget* child : dialog.findChildren<QWidget*>(Qt::FindDirectChildrenOnly)) {
            QVERIFY(dialog.rect().contains(child->geometry()));
            if (!qobject_cast<QGroupBox*>(child))
                QCOMPARE(dialog.childAt(child->geometry().center()), child);
        }
        QStringList tabOrder;
        QWidget* const first = Child<QPushButton>(&dialog, "cancel");
        for (QWidget* w = first; tabOrder.isEmpty() || w != first; w = w->nextInFocusChain())
            if (w->focusPolicy() & Qt::TabFocus)
                tabOrder.append(w->objectName());
        QCOMPARE(tabOrder, (QStringList{u"cancel"_s, u"ok"_s, u"windowName"_s, u"url"_s, u"flag"_s,
                                        u"openWindow"_s}));
    }
};

QTEST_MAIN(TestWindowFlagDlg)
#include "test_windowflagdlg.moc"
