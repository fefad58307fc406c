// The main window over the real view: the status bar, the bars and exit.
#include "engine/monitorengine.h"
#include "res/version.h"
#include "tests/app/appfixture.h"
#include "tests/support/modalanswer.h"

#include <QAbstractEventDispatcher>
#include <QLabel>
#include <QMenu>
#include <QRegularExpression>
#include <QSignalSpy>
#include <QStatusBar>
#include <QTimer>
#include <QToolBar>

using namespace winwarden;
using namespace Qt::Literals::StringLiterals;

class TestMainFrame final : public QObject {
    Q_OBJECT

    std::unique_ptr<test::AppFixture> m_fixture;
    CMainFrame& Frame() { return m_fixture->Frame(); }

private Q_SLOTS:
    // The monitor pane says at a glance what the monitor does, and trouble stays in it for as
    // long as it lasts, whatever the message pane shows meanwhile. Exit while monitoring ends
    // the run with status 0, the monitor stopped before the view's store closes.
    void monitorPaneAndExit() {
        m_fixture = std::make_unique<test::AppFixture>();
        QVERIFY(m_fixture->Start());
        auto* pane = Frame().findChild<QLabel*>(u"monitorPane"_s);
        QCOMPARE(pane->text(), u"未监视"_s);
        m_fixture->TriggerMenu(cmd::kStart);
        Monitor& engine = m_fixture->View().GetMonitor();
        const auto tick = [&] {
            QSignalSpy finished(&engine, &MonitorEngine::cycleFinished);
            engine.OnTimer();
            QVERIFY(finished.wait(5000));
        };
        m_fixture->Source().SetPages({u"一"_s, u"http://1/"_s, u"二"_s, u"http://2/"_s});
        tick();
        QCOMPARE(pane->text(), u"监视中 · 浏览器窗口 2 个"_s);
        m_fixture->Source().SetUnreadable(true);
        tick();
        Frame().statusBar()->showMessage(u"就绪"_s);
        QCOMPARE(pane->text(), u"监视中 · 没有浏览器应答"_s);
        m_fixture->Source().SetUnreadable(false);
        m_fixture->Db().exec(u"DROP TABLE 窗口名表"_s);
        QTest::ignoreMessage(QtWarningMsg, QRegularExpression(u".+"_s));
        tick();
        tick();
        QCOMPARE(pane->text(), u"监视中 · 浏览器窗口 2 个 · 窗口规则读写失败"_s);
        QVERIFY(pane->toolTip().contains(u"窗口名表"_s));
        m_fixture->TriggerMenu(cmd::kStop);
        QVERIFY(pane->text().startsWith(u"未监视"_s));

        // A bar hidden some other way loses its menu mark too.
        Frame().ToolBar()->hide();
        QAction* toolbar = Frame().MenuAction(cmd::kViewToolbar);
        Q_EMIT qobject_cast<QMenu*>(toolbar->parent())->aboutToShow();
        QVERIFY(!toolbar->isChecked());

        // 关于 names the version every tool and the package give, in full on its line.
        QString about;
        int room = 0;
        test::ModalAnswer answer({[&](QWidget* modal) {
            if (auto* label = test::Child<QLabel>(modal, "aboutText")) {
                about = label->text();
                room = label->width() - label->fontMetrics().horizontalAdvance(about);
            }
            modal->close();
        }});
        m_fixture->TriggerMenu(cmd::kAppAbout);
        QCOMPARE(about, u"浏览哨兵 winwarden %1 版"_s.arg(QLatin1StringView(res::kVersion)));
        QVERIFY2(room >= 0, qPrintable(QString::number(room)));

        m_fixture->TriggerMenu(cmd::kStart);
        auto* dispatcher = QAbstractEventDispatcher::instance();
        QVERIFY(!dispatcher->registeredTimers(&engine).isEmpty());
        QEventLoop loop;
        QTimer::singleShot(0, this, [this] { m_fixture->TriggerMenu(cmd::kAppExit); });
        QTimer::singleShot(5000, &loop, [&loop] { loop.exit(99); });
        QCOMPARE(loop.exec(), 0);
        QVERIFY(!Frame().isVisible() && dispatcher->registeredTimers(&engine).isEmpty());
    }
};

QTEST_MAIN(TestMainFrame)
#include "test_mainframe.moc"
