// The flag dialog, run modally and answered from inside its own loop.
#include "monitor/windowflagdlg.h"
#include "tests/support/modalanswer.h"

#include <QApplication>
#include <QDesktopServices>
#include <QGroupBox>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QTest>
#include <QUrl>

using namespace winwarden;
using namespace Qt::StringLiterals;
using winwarden::test::Child;
using winwarden::test::ModalAnswer;

namespace {

const QString kName = QStringLiteral("新闻 %2 首页 - Microsoft Internet Explorer");
const QString kUrl = QStringLiteral("https://example.org/news?id=1&x=%2");

// What the dialog showed when it came up.
struct Shown {
    bool passChecked = false;
    bool blockChecked = false;
    bool openEnabled = false;
    QString name;
    QString url;
    QString flag;
    QString focus;
};

Shown Observe(QWidget* modal) {
    Shown shown;
    shown.passChecked = Child<QRadioButton>(modal, "radioPass")->isChecked();
    shown.blockChecked = Child<QRadioButton>(modal, "radioBlock")->isChecked();
    shown.openEnabled = Child<QPushButton>(modal, "openWindow")->isEnabled();
    shown.name = Child<QLineEdit>(modal, "windowName")->text();
    shown.url = Child<QLineEdit>(modal, "url")->text();
    shown.flag = Child<QLineEdit>(modal, "flag")->text();
    if (QWidget* focus = modal->focusWidget())
        shown.focus = focus->objectName();
    return shown;
}

void Click(QWidget* modal, const char* name) {
    QTest::mouseClick(Child<QPushButton>(modal, name), Qt::LeftButton);
}

} // namespace

// Collects the addresses the dialog hands to the desktop.
class UrlSink final : public QObject {
    Q_OBJECT
public:
    QList<QUrl> opened;
public Q_SLOTS:
    void open(const QUrl& url) { opened.append(url); }
};

class TestWindowFlagDlg final : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void init() {
        m_sink.opened.clear();
        for (const char* scheme : {"http", "https", "file", "mailto"})
            QDesktopServices::setUrlHandler(QString::fromLatin1(scheme), &m_sink, "open");
    }
    void cleanup() {
        for (const char* scheme : {"http", "https", "file", "mailto"})
            QDesktopServices::unsetUrlHandler(QString::fromLatin1(scheme));
    }

    void flagDecidesTheInitialState_data() {
        QTest::addColumn<QString>("flag");
        QTest::addColumn<bool>("pass");
        QTest::newRow("pass") << QStringLiteral("通过") << true;
        QTest::newRow("block") << QStringLiteral("禁止") << false;
        QTest::newRow("empty") << QString() << false;
        QTest::newRow("other text") << QStringLiteral("通过 ") << false;
    }

    // OK without touching a radio button hands back the caller's flag text unchanged.
    void flagDecidesTheInitialState() {
        QFETCH(QString, flag);
        QFETCH(bool, pass);
        CWindowFlagDlg dialog;
        dialog.m_strWindowName = kName;
        dialog.m_strUrl = kUrl;
        dialog.m_strFlag = flag;
        Shown shown;
        ModalAnswer answer({[&](QWidget* modal) {
            shown = Observe(modal);
            Click(modal, "ok");
        }});
        QCOMPARE(dialog.exec(), 1);
        QCOMPARE(answer.answered(), 1);
        QCOMPARE(shown.passChecked, pass);
        QCOMPARE(shown.blockChecked, !pass);
        QCOMPARE(shown.openEnabled, pass);
        QCOMPARE(shown.name, kName);
        QCOMPARE(shown.url, kUrl);
        QCOMPARE(shown.flag, flag);
        QCOMPARE(shown.focus, QStringLiteral("cancel"));
        QCOMPARE(dialog.m_strFlag, flag);
        QCOMPARE(dialog.m_strUrl, kUrl);
        QCOMPARE(dialog.m_strWindowName, kName);
    }

    // The radio pair sets the flag, the flag field and the open button together; clicking the
    // checked one again changes nothing.
    void radioButtonsSwitchTheFlag() {
        CWindowFlagDlg dialog;
        dialog.m_strUrl = kUrl;
        dialog.m_strFlag = QString();
        QList<Shown> states;
        ModalAnswer answer({[&](QWidget* modal) {
            auto* pass = Child<QRadioButton>(modal, "radioPass");
            auto* block = Child<QRadioButton>(modal, "radioBlock");
            block->click();
            states.append(Observe(modal));
            pass->click();
            states.append(Observe(modal));
            pass->click();
            states.append(Observe(modal));
            Click(modal, "ok");
        }});
        QCOMPARE(dialog.exec(), 1);
        QCOMPARE(states.size(), 3);
        QCOMPARE(states[0].flag, QStringLiteral("禁止"));
        QVERIFY(states[0].blockChecked && !states[0].passChecked && !states[0].openEnabled);
        for (const Shown& state : {states[1], states[2]}) {
            QCOMPARE(state.flag, QStringLiteral("通过"));
            QVERIFY(state.passChecked && !state.blockChecked && state.openEnabled);
        }
        QCOMPARE(dialog.m_strFlag, QStringLiteral("通过"));
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
        dialog.m_strUrl = kUrl;
        dialog.m_strFlag = QStringLiteral("禁止");
        ModalAnswer answer({[&](QWidget* modal) {
            switch (way) {
            case 0:
                Click(modal, "cancel");
                break;
            case 1:
                QTest::keyClick(modal->focusWidget(), Qt::Key_Escape);
                break;
            case 2:
                modal->close();
                break;
            default:
                QTest::keyClick(modal->focusWidget(), Qt::Key_Return);
                break;
            }
        }});
        QCOMPARE(dialog.exec(), 2);
        QCOMPARE(answer.forced(), 0);
        QVERIFY(m_sink.opened.isEmpty());
    }

    // No button is the default: Enter presses the focused button, and means OK anywhere else.
    void enterFollowsTheFocus() {
        CWindowFlagDlg dialog;
        dialog.m_strUrl = kUrl;
        dialog.m_strFlag = QStringLiteral("通过");
        ModalAnswer toOpen({[&](QWidget* modal) {
            Child<QPushButton>(modal, "openWindow")->setFocus();
            QTest::keyClick(modal->focusWidget(), Qt::Key_Return);
        }});
        QCOMPARE(dialog.exec(), 1);
        QCOMPARE(m_sink.opened, QList<QUrl>{QUrl(kUrl)});

        CWindowFlagDlg again;
        again.m_strFlag = QStringLiteral("禁止");
        ModalAnswer inField({[&](QWidget* modal) {
            Child<QLineEdit>(modal, "url")->setFocus();
            QTest::keyClick(modal->focusWidget(), Qt::Key_Return);
        }});
        QCOMPARE(again.exec(), 1);
        QCOMPARE(inField.forced(), 0);
        QCOMPARE(again.m_strFlag, QStringLiteral("禁止"));
    }

    // "打开窗口" opens the rule's page and ends like OK; only web addresses leave the program.
    void openWindowOpensThePage() {
        CWindowFlagDlg dialog;
        dialog.m_strUrl = kUrl;
        dialog.m_strFlag = QStringLiteral("禁止");
        ModalAnswer answer({[&](QWidget* modal) {
            Child<QRadioButton>(modal, "radioPass")->click();
            Click(modal, "openWindow");
        }});
        QCOMPARE(dialog.exec(), 1);
        QCOMPARE(dialog.m_strFlag, QStringLiteral("通过"));
        QCOMPARE(m_sink.opened, QList<QUrl>{QUrl(kUrl)});

        m_sink.opened.clear();
        for (const QString& local : {QStringLiteral("file:///tmp/launch.desktop"),
                                     QStringLiteral("mailto:someone@example.org"), QString()}) {
            CWindowFlagDlg other;
            other.m_strUrl = local;
            other.m_strFlag = QStringLiteral("通过");
            ModalAnswer press({[&](QWidget* modal) {
                Click(modal, "openWindow");
            }});
            QCOMPARE(other.exec(), 1);
        }
        QVERIFY(m_sink.opened.isEmpty());
    }

    // Typing changes nothing, and a very long address comes back whole.
    void fieldsAreNotEditable() {
        const QString longUrl = QStringLiteral("https://example.org/?q=") + QString(40000, u'x');
        CWindowFlagDlg dialog;
        dialog.m_strWindowName = kName;
        dialog.m_strUrl = longUrl;
        dialog.m_strFlag = QStringLiteral("通过");
        bool allReadOnly = false;
        QString urlShown;
        ModalAnswer answer({[&](QWidget* modal) {
            allReadOnly = true;
            for (const char* name : {"windowName", "url", "flag"}) {
                auto* edit = Child<QLineEdit>(modal, name);
                allReadOnly = allReadOnly && edit->isReadOnly();
                edit->setFocus();
                QTest::keyClick(edit, Qt::Key_End);
                QTest::keyClick(edit, Qt::Key_Backspace);
                QTest::keyClicks(edit, QStringLiteral("typed"));
            }
            urlShown = Child<QLineEdit>(modal, "url")->text();
            Click(modal, "ok");
        }});
        QCOMPARE(dialog.exec(), 1);
        QVERIFY(allReadOnly);
        QCOMPARE(urlShown, longUrl);
        QCOMPARE(dialog.m_strWindowName, kName);
        QCOMPARE(dialog.m_strUrl, longUrl);
        QCOMPARE(dialog.m_strFlag, QStringLiteral("通过"));
    }

    // Frames around their controls, every control reachable by the mouse, tab order as
    // designed, nothing outside the dialog.
    void layoutFollowsTheTemplate() {
        CWindowFlagDlg dialog;
        dialog.show();
        QVERIFY(QTest::qWaitForWindowExposed(&dialog));
        QCOMPARE(dialog.windowTitle(), QStringLiteral("修改窗口标记"));

        QHash<QString, QGroupBox*> frames;
        for (QGroupBox* frame : dialog.findChildren<QGroupBox*>())
            frames.insert(frame->title(), frame);
        QCOMPARE(frames.size(), 4);
        const auto inside = [&](const QString& frame, const char* name) {
            auto* control = dialog.findChild<QWidget*>(QString::fromLatin1(name));
            return control && frames.value(frame)->geometry().contains(control->geometry());
        };
        QVERIFY(inside(QStringLiteral("信息"), "windowName"));
        QVERIFY(inside(QStringLiteral("信息"), "url"));
        QVERIFY(inside(QStringLiteral("选择"), "flag"));
        QVERIFY(inside(QStringLiteral("选择"), "radioPass"));
        QVERIFY(inside(QStringLiteral("选择"), "radioBlock"));
        for (const char* button : {"openWindow", "ok", "cancel"})
            QVERIFY2(inside(QStringLiteral("操作"), button), button);
        for (const QString& title : {u"信息"_s, u"选择"_s, u"操作"_s})
            QVERIFY(frames.value(QString())->geometry().contains(frames.value(title)->geometry()));

        for (QWidget* child : dialog.findChildren<QWidget*>(Qt::FindDirectChildrenOnly)) {
            QVERIFY(dialog.rect().contains(child->geometry()));
            if (qobject_cast<QGroupBox*>(child))
                continue;
            const QPoint centre = child->geometry().center();
            QWidget* hit = dialog.childAt(centre);
            QVERIFY2(hit == child || child->isAncestorOf(hit), qPrintable(child->objectName()));
        }

        QStringList tabOrder;
        QWidget* widget = Child<QPushButton>(&dialog, "cancel");
        do {
            if ((widget->focusPolicy() & Qt::TabFocus) && widget->parentWidget() == &dialog)
                tabOrder.append(widget->objectName());
            widget = widget->nextInFocusChain();
        } while (widget != Child<QPushButton>(&dialog, "cancel"));
        QCOMPARE(tabOrder, (QStringList{u"cancel"_s, u"ok"_s, u"windowName"_s, u"url"_s, u"flag"_s,
                                        u"openWindow"_s}));
        for (QPushButton* button : dialog.findChildren<QPushButton*>())
            QVERIFY(!button->isDefault() && !button->autoDefault());
    }

private:
    UrlSink m_sink;
};

QTEST_MAIN(TestWindowFlagDlg)
#include "test_windowflagdlg.moc"
