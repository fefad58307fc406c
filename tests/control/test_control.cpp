// The system guard's control socket: a real engine over a temporary rule file and the fake
// browser source, with its control server, in a thread of its own as in a process of its own;
// and the windows of users of every kind, each connected as that user.
#include "app/monitorpane.h"
#include "app/winwardenapp.h"
#include "control/controlserver.h"
#include "control/guardmonitor.h"
#include "engine/monitorengine.h"
#include "monitor/winwardenview.h"
#include "res/texts.h"
#include "store/storeerror.h"
#include "store/visitstore.h"
#include "tests/support/fakesource.h"
#include "tests/support/manualclock.h"
#include "tests/support/modalanswer.h"
#include "tests/support/nativehost.h"
#include "tests/support/viewrig.h"

#include <QEventLoop>
#include <QStandardPaths>
#include <QThread>
#include <sys/stat.h>

using namespace winwarden;
using namespace winwarden::test;
using namespace Qt::StringLiterals;

namespace {

constexpr gid_t kAdmins = 4300; // the administrators' group
constexpr uid_t kChild = 4242, kOther = 4343, kParent = 4244;

const QString kChildPage = u"孩子的页 %2"_s, kOtherPage = u"别人的页"_s, kRootPage = u"根的页"_s;
const QString kChildUrl = u"https://child.test/"_s;

BrowserWindow Page(const QString& title, const QString& url, qint64 uid) {
    return {
        BrowserWindow::Kind::HtmlDocument, title, url, {-1, u"fake"_s, title}, u"chromium"_s, uid};
}

// The guard's side, on a control socket open to every user in a temporary folder.
struct GuardRig {
    TempRuleDb db;
    QTemporaryDir dir;
    FakeBrowserSource* source = new FakeBrowserSource; // owned by the engine
    QThread thread;
    QObject* context = new QObject;
    std::unique_ptr<MonitorEngine> engine;
    std::unique_ptr<ControlServer> server;
    QObject* standIn = nullptr;

    explicit GuardRig(qint64 backlog = ControlServer::kBacklogCap) {
        ::chmod(QFile::encodeName(dir.path()).constData(), 0711);
        context->moveToThread(&thread);
        thread.start();
        InGuard([&] {
            engine = std::make_unique<MonitorEngine>(std::unique_ptr<BrowserSource>(source));
            engine->OpenStore(db.path());
            engine->Start();
            server = std::make_unique<ControlServer>(*engine, kAdmins, backlog);
            QString error;
            if (!server->Listen(Path(), &error))
                qFatal("%s", qPrintable(error));
        });
    }
    ~GuardRig() {
        InGuard([&] {
            server.reset();
            delete standIn;
            engine.reset();
        });
        thread.quit();
        thread.wait();
        delete context;
    }
    QString Path() const { return dir.filePath(u"control"_s); }
    void InGuard(const std::function<void()>& work) {
        QMetaObject::invokeMethod(context, work, Qt::BlockingQueuedConnection);
    }
    // One whole cycle of the engine, with what it sends on the way.
    void Cycle() {
        InGuard([&] {
            QEventLoop loop;
            QObject::connect(engine.get(), &Monitor::cycleFinished, &loop, &QEventLoop::quit);
            engine->OnTimer();
            loop.exec();
        });
    }
    int Clients() {
        int clients = 0;
        InGuard([&] { clients = server->Clients(); });
        return clients;
    }
};

// A window's monitor connected as this user, with these groups.
std::unique_ptr<GuardMonitor> WindowOf(const GuardRig& guard, uid_t uid,
                                       std::vector<gid_t> groups = {}, gid_t gid = 0) {
    auto monitor = std::make_unique<GuardMonitor>(guard.Path());
    bool connected = false;
    if (!AsUser(uid, gid != 0 ? gid : uid, groups, [&] { connected = monitor->Connect(); }) ||
        !connected)
        return nullptr;
    return monitor;
}

QString Refusal(GuardMonitor& monitor, const std::function<void(GuardMonitor&)>& command) {
    try {
        command(monitor);
    } catch (const StoreError& error) {
        return error.message();
    }
    return {};
}

} // namespace

class TestControl final : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void initTestCase() {
        if (::geteuid() != 0)
            QSKIP("windows of other users need root to connect as them");
        QStandardPaths::setTestModeEnabled(true);
    }

    // Every user's window shows the pages of that user's browsers, an administrator's those of
    // all; the child's window refuses every change with the message and the guard refuses it
    // too, while a change of the parent's (in the group) or root's is applied and the child's
    // page closes in the cycle it starts.
    void eachSeesTheirOwnAndOnlyAdministratorsChange() {
        GuardRig guard;
        guard.source->SetWindows({Page(kChildPage, kChildUrl, kChild),
                                  Page(kOtherPage, u"https://other.test/"_s, kOther),
                                  Page(kRootPage, u"https://root.test/"_s, 0)});
        const QString notice = u"用户 4242：Chromium 的扩展连接已断开"_s;
        guard.source->SetNotices({notice});
        const auto child = WindowOf(guard, kChild), other = WindowOf(guard, kOther);
        const auto parent = WindowOf(guard, kParent, {100, kAdmins});
        QVERIFY(child && other && parent);
        QVERIFY(!child->MayChangeRules() && !other->MayChangeRules() && parent->MayChangeRules());
        QVERIFY(WindowOf(guard, 4545, {}, kAdmins)->MayChangeRules()); // the group as its own

        // Root's window is the program's own, started as it starts: no rules of its own then,
        // and the guard's live list at once, since the guard monitors all along.
        MonitorServices services{std::make_unique<FakeBrowserSource>(), u"/nonexistent/x.mdb"_s,
                                 guard.Path()};
        CWinwardenApp app(std::move(services));
        QVERIFY(app.InitInstance({}));
        auto* root = qobject_cast<GuardMonitor*>(app.GetMonitor());
        QVERIFY(root && root->MayChangeRules() && root->IsMonitoring());

        CWinwardenView childView(*child), parentView(*parent);
        childView.OnInitialUpdate();
        childView.OnStart();
        parentView.OnStart();
        QSignalSpy childCycles(child.get(), &Monitor::cycleFinished);
        QSignalSpy parentCycles(parent.get(), &Monitor::cycleFinished);
        guard.Cycle();
        QVERIFY(childCycles.wait(5000));
        QTRY_VERIFY(parentCycles.count() > 0);
        const QString childRow = kChildPage + u" - Chromium|通过|"_s + kChildUrl;
        QCOMPARE(Rows(childView), QStringList{childRow});
        QCOMPARE(Rows(parentView),
                 (QStringList{u"【4242】"_s + childRow,
                              u"【4343】别人的页 - Chromium|通过|https://other.test/"_s,
                              u"【root（0）】根的页 - Chromium|通过|https://root.test/"_s}));
        QTRY_COMPARE(child->Status().windows, 1);
        QVERIFY(child->Status().notices.isEmpty() && child->Status().guarded);
        QTRY_COMPARE(parent->Status().notices, QStringList{notice});
        QVERIFY(MonitorPane::Text(child->Status()).startsWith(text::kPaneGuarded));

        // The child's window refuses each change before any dialog, the guard refuses what a
        // window sends anyway, and nothing changes; reading is everyone's.
        const QList<RuleRow> rules = guard.db.rows();
        QCOMPARE(rules.size(), 3);
        QStringList boxes;
        const ModalAnswer::Step note = NoteAndReject(boxes);
        ModalAnswer answers({note, note, note});
        childView.ListControl()->selectRow(0);
        childView.OnListDblClk();
        childView.OnDeleteWindow();
        childView.OnAddRule();
        QCOMPARE(boxes, (QStringList{text::kSetFlagFailed + text::kRulesForAdministratorsOnly,
                                     text::kDeleteRuleFailed + text::kRulesForAdministratorsOnly,
                                     text::kAddRuleFailed + text::kRulesForAdministratorsOnly}));
        // Changes are the administrators', and so are the rules that pass and a lookup by title:
        // pages every user visited.
        const QString& changes = text::kRulesForAdministratorsOnly;
        const QString& pages = text::kAllPagesForAdministratorsOnly;
        using Command = std::function<void(GuardMonitor&)>;
        for (const auto& [command, refusal] : std::vector<std::pair<Command, QString>>{
                 {[](GuardMonitor& m) { m.SetFlagForWindow(u"禁止"_s, kChildPage, kChildUrl); },
                  changes},
                 {[](GuardMonitor& m) { m.DeleteRule(kChildPage, kChildUrl); }, changes},
                 {[](GuardMonitor& m) { m.AddRule(u"新"_s, {}, u"禁止"_s); }, changes},
                 {[](GuardMonitor& m) { m.AddMatchRule(u"网站"_s, u"a.test"_s, u"禁止"_s); },
                  changes},
                 {[](GuardMonitor& m) { m.DeleteMatchRule(1); }, changes},
                 {[](GuardMonitor& m) { m.ListByFlag(u"通过"_s); }, pages},
                 {[](GuardMonitor& m) { m.FindByName(kChildPage); }, pages}})
            QCOMPARE(Refusal(*child, command), refusal);
        QCOMPARE(parent->ListByFlag(u"通过"_s).size(), size_t(3));
        QCOMPARE(parent->FindByName(kChildPage)->url, kChildUrl);
        QCOMPARE(guard.db.rows(), rules);

        QSignalSpy childClosing(child.get(), &Monitor::windowClosing);
        QSignalSpy otherClosing(other.get(), &Monitor::windowClosing);
        QSignalSpy parentClosing(parent.get(), &Monitor::windowClosing);
        other->Start();
        QCOMPARE(parent->SetFlagForWindow(u"禁止"_s, kChildPage, kChildUrl), 1);
        QTRY_COMPARE(guard.source->CloseRequestsFor(kChildPage), 1);
        QTRY_COMPARE(childClosing.count(), 1);
        QCOMPARE(childClosing.first().at(0).toString(), kChildPage);
        QTRY_COMPARE(parentClosing.count(), 1);
        QVERIFY(root->AddRule(u"根加的"_s, {}, u"禁止"_s));
        QCOMPARE(guard.db.rows().last(), (RuleRow{u"根加的"_s, u"禁止"_s, u""_s}));
        QCOMPARE(otherClosing.count(), 0);
        QCOMPARE(guard.source->CloseRequests().size(), 1);
        const std::vector<Rule> blocked = child->ListByFlag(u"禁止"_s); // everyone's to see
        QCOMPARE(blocked.size(), size_t(2));
        QCOMPARE(blocked.front().name, kChildPage);

        // Match rules: everyone reads them, an administrator changes them, and a page they
        // decide shows the rule in the live list.
        QVERIFY(root->AddMatchRule(u"网站"_s, u"other.test"_s, u"禁止"_s));
        QTRY_COMPARE(otherClosing.count(), 1);
        QTRY_VERIFY(
            Rows(parentView)
                .contains(
                    u"【4343】别人的页 - Chromium|禁止（网站 other.test）|https://other.test/"_s));
        const std::vector<MatchRuleRow> matches = child->ListMatchRules();
        QCOMPARE(matches.size(), size_t(1));
        QCOMPARE(child->FindMatchRule(u"网站"_s, u"OTHER.test."_s), matches.front());
        const qint64 id = matches.front().id;
        QCOMPARE(parent->SetMatchRuleFlag(id, u"通过"_s), 1);
        // Times are checked by the guard, whatever the client checked or did not.
        QCOMPARE(parent->SetMatchRuleTimes(id, u"周六日 9:00-10:00"_s), 1);
        QVERIFY(Refusal(*parent, [id](GuardMonitor& m) {
                    m.SetMatchRuleTimes(id, u"周一 25:00-07:00"_s);
                }).contains(u"不存在的时刻"_s));
        QVERIFY(
            !Refusal(*child, [id](GuardMonitor& m) { m.SetMatchRuleTimes(id, u""_s); }).isEmpty());
        QCOMPARE(child->ListMatchRules().front().times, std::optional(u"周六日 09:00-10:00"_s));
        QCOMPARE(root->DeleteMatchRule(id), 1);
        QVERIFY(child->ListMatchRules().empty());
    }

    // The visit record: an administrator reads everyone's, or one user's by number or name;
    // anyone else gets their own whatever they ask for, another user's number included.
    void visitsAreTheirOwnUnlessAdministrator() {
        GuardRig guard;
        const auto child = WindowOf(guard, kChild), parent = WindowOf(guard, kParent, {kAdmins});
        QVERIFY(child && parent);
        guard.InGuard([&] {
            std::vector<VisitRow> rows;
            for (const auto& [uid, user] : {std::pair(kChild, u"alice"_s),
                                            {kOther, u"bob"_s},
                                            {kChild, u"alice"_s},
                                            {kParent, u"mum"_s}}) {
                VisitRow row;
                row.uid = uid, row.user = user, row.title = user + QString::number(rows.size());
                row.start = 1000 * qint64(rows.size() + 1), row.end = row.start + 500;
                row.frontMs = 100, row.result = u"通过"_s;
                rows.push_back(row);
            }
            std::vector<VisitRow*> batch;
            for (VisitRow& row : rows)
                batch.push_back(&row);
            VisitStore(guard.engine->Store()).Write(batch);
        });
        const auto titles = [](const std::vector<VisitRow>& visits) {
            QStringList shown;
            for (const VisitRow& visit : visits)
                shown << visit.title;
            return shown.join(u' ');
        };
        QCOMPARE(titles(parent->ListVisits({})), u"alice0 bob1 alice2 mum3"_s);
        QCOMPARE(titles(parent->ListVisits({kOther, {}})), u"bob1"_s);
        QCOMPARE(titles(parent->ListVisits({{}, u"alice"_s})), u"alice0 alice2"_s);
        QCOMPARE(titles(parent->ListVisits({{}, {}, 2501, 3001})), u"alice2"_s);
        QCOMPARE(titles(child->ListVisits({})), u"alice0 alice2"_s);
        QCOMPARE(titles(child->ListVisits({kOther, {}})), u"alice0 alice2"_s);
        QCOMPARE(titles(child->ListVisits({{}, u"mum"_s})), u"alice0 alice2"_s);
        const std::vector<VisitRow> own = child->ListVisits({});
        QCOMPARE(own.front().frontMs, std::optional<qint64>(100));
        QCOMPARE(own.front().end, 1500);
    }

    // Today's use of the allowances: an administrator's window reads everyone's, anyone
    // else's their own alone.
    void allowanceUsesAreTheirOwnUnlessAdministrator() {
        GuardRig guard;
        const auto clock = std::make_shared<ManualClock>(QDateTime(QDate(2026, 3, 2), QTime(9, 0)));
        std::vector<BrowserWindow> pages{Page(kChildPage, kChildUrl, kChild),
                                         Page(kOtherPage, u"https://child.test/x"_s, kOther)};
        for (BrowserWindow& page : pages)
            page.inFront = true;
        guard.source->SetWindows(pages);
        guard.InGuard([&] {
            guard.engine->SetClock(clock);
            guard.engine->AddMatchTable();
            guard.engine->AddMatchRule(u"网站"_s, u"child.test"_s, u"禁止"_s);
            guard.engine->SetMatchRuleTimes(1, u"每天 60 分钟"_s);
        });
        for (int cycle = 0; cycle < 4; ++cycle) {
            guard.Cycle();
            guard.InGuard([&] { clock->Advance(60'000); });
        }
        const auto child = WindowOf(guard, kChild), parent = WindowOf(guard, kParent, {kAdmins});
        QVERIFY(child && parent);
        QCOMPARE(parent->AllowanceUses(),
                 (std::vector<AllowanceUse>{{1, kChild, u"4242"_s, 3, 60},
                                            {1, kOther, u"4343"_s, 3, 60}}));
        QCOMPARE(child->AllowanceUses(),
                 (std::vector<AllowanceUse>{{1, kChild, u"4242"_s, 3, 60}}));
    }

    // Garbage from a hand-made client, or a client that does not read, is cut off, root's
    // included (a window's changes go to the guard as they are: the guard refuses them).
    void handMadeClientsAreRefusedOrCutOff() {
        GuardRig guard(1024 * 1024);
        guard.source->SetWindows({Page(kChildPage, kChildUrl, kChild)});
        guard.Cycle();
        QTRY_COMPARE(guard.db.rows().size(), 1);
        const QList<RuleRow> rules = guard.db.rows();

        QByteArray overCap(4, '\xff');
        for (const QByteArray& garbage :
             {QByteArray("\x05\0\0\0hello", 9), overCap, Frame({{"type"_L1, u"close"_s}}),
              Frame({{"type"_L1, u"call"_s},
                     {"id"_L1, 1},
                     {"command"_L1, u"setFlag"_s},
                     {"flag"_L1, 5},
                     {"name"_L1, kChildPage},
                     {"url"_L1, kChildUrl}})}) {
            BridgeClient root(kControlFrameCap);
            QVERIFY(root.Connect(guard.Path()));
            root.SendRaw(garbage);
            QVERIFY2(root.WaitForCutOff(), garbage.toHex().constData());
        }

        // A client that asks for the live list and never reads it: the guard's cycles go on.
        QLocalSocket slow;
        slow.setReadBufferSize(1);
        slow.connectToServer(guard.Path());
        QVERIFY(slow.waitForConnected(2000));
        slow.write(Frame(EncodeControlRequest(ControlWatch{true})));
        QVERIFY(slow.waitForBytesWritten(2000));
        std::vector<BrowserWindow> many;
        for (int i = 0; i < 400; ++i)
            many.push_back(Page(QString(2000, u'页') + QString::number(i), kChildUrl, kChild));
        guard.source->SetWindows(many);
        QTRY_COMPARE(guard.Clients(), 1); // accepted by the guard, which it may not be yet
        for (int i = 0; i < 10 && guard.Clients() > 0; ++i)
            guard.Cycle();
        QCOMPARE(guard.Clients(), 0);
        QCOMPARE(guard.db.rows().first(), rules.first());
    }

    // A guard that goes is said in the window and its commands fail with that; one that stays
    // silent fails them after a few seconds, the window never hangs; the window finds the
    // guard again when it is back.
    void aGuardGoneOrSilentIsSaid() {
        GuardRig guard;
        const auto child = WindowOf(guard, kChild);
        QVERIFY(child);
        guard.InGuard([&] { guard.server.reset(); });
        QTRY_VERIFY(child->Status().notices.contains(text::kGuardLost));
        QCOMPARE(Refusal(*child, [](GuardMonitor& m) { m.ListByFlag(u"通过"_s); }),
                 text::kGuardLost);

        guard.InGuard([&] {
            auto* server = new QLocalServer;
            guard.standIn = server;
            server->setSocketOptions(QLocalServer::WorldAccessOption);
            QObject::connect(server, &QLocalServer::newConnection, [server] {
                server->nextPendingConnection()->write(
                    Frame(EncodeWelcome(false, MonitorStatus{true, true, 1, 1, 1, {}, {}, true})));
            });
            server->listen(guard.Path());
        });
        QTRY_VERIFY_WITH_TIMEOUT(child->Status().notices.isEmpty(), 5000);
        QCOMPARE(Refusal(*child, [](GuardMonitor& m) { m.FindByName(u"x"_s); }),
                 text::kGuardNoAnswer);
    }
};

QTEST_MAIN(TestControl)
#include "test_control.moc"
