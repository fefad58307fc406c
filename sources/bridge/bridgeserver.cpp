#include "sources/bridge/bridgeserver.h"

#include "platform/browserprocesses.h"
#include "platform/localserver.h"
#include "platform/programlog.h"
#include "survey/pagetitle.h"

#include <QUrl>
#include <set>
#include <unistd.h>

using namespace Qt::StringLiterals;

namespace winwarden {

namespace {

// Challenges answered per connection and second.
constexpr int kAnswersPerSecond = 10;

// A tab without a title of its own shows its URL in the tab list: Chromium as its DevTools
// endpoint does, Firefox without the scheme ("/tmp/a.html", "h.test/p?q=测"), and a blank page
// as "New Tab" in the browser's language.
bool IsUntitled(const QString& title, const QString& url) {
    static const QStringList blank{u"about:blank"_s, u"about:newtab"_s, u"about:home"_s,
                                   u"about:privatebrowsing"_s};
    if (title.isEmpty() || IsUrlStandInTitle(title, url) || blank.contains(url)) {
        return true;
    }
    const qsizetype scheme = url.indexOf("://"_L1);
    const QString shown = scheme > 0 ? url.mid(scheme + 3) : QString();
    // It decodes some escapes and keeps others; comparing both fully decoded covers each choice.
    return !shown.isEmpty() &&
           QUrl::fromPercentEncoding(title.toUtf8()) == QUrl::fromPercentEncoding(shown.toUtf8());
}

QString Identity(const BridgeHello& hello) {
    return hello.browser + u' ' + hello.caller;
}

QString Shown(const QString& family) {
    return BrowserFamilyName(family);
}

} // namespace

BridgeServer::BridgeServer(BridgeWatch watch) : BridgeServer(std::move(watch), std::nullopt) {}

BridgeServer::BridgeServer(BridgeWatch watch, const QString& systemPath)
    : BridgeServer(std::move(watch), std::optional(systemPath)) {}

BridgeServer::BridgeServer(BridgeWatch watch, std::optional<QString> systemPath)
    : m_system(systemPath.has_value()), m_log(watch.say ? watch.say : LogLine),
      m_watch(std::move(watch)) {
    // The user's socket is the user's only; the guard's is everyone's, behind its folder.
    m_server.setSocketOptions(m_system ? QLocalServer::WorldAccessOption
                                       : QLocalServer::UserAccessOption);
    QObject::connect(&m_server, &QLocalServer::newConnection, &m_context, [this] { Accept(); });
    const QString path = m_system ? *systemPath : BridgeSocketPath();
    if (path.isEmpty()) {
        LogLine(u"没有私有的运行时文件夹（XDG_RUNTIME_DIR），浏览器桥无法监听，配套扩展不受监视"_s);
        return;
    }
    Listen(path);
}

bool BridgeServer::AcceptsPeer(const PeerCredentials& peer) const {
    // Only our own user's processes may speak for a browser on the user's socket: the folder
    // already keeps others out, this also holds where it is shared by mistake.
    return m_system || peer.uid == ::getuid();
}

QString BridgeServer::Whose(uid_t uid) const {
    return m_system ? u"用户 "_s + UserLabel(uid) + u"："_s : QString();
}

bool BridgeServer::Listen(const QString& path) {
    // Another winwarden's socket is left alone; one left by a winwarden that crashed is taken
    // over.
    QString error;
    if (!ListenOnce(m_server, path, &error)) {
        LogLine(error);
        return false;
    }
    return true;
}

void BridgeServer::Accept() {
    while (QLocalSocket* socket = m_server.nextPendingConnection()) {
        const std::optional<PeerCredentials> peer = PeerOf(socket->socketDescriptor());
        if (!peer || !AcceptsPeer(*peer)) {
            socket->abort();
            socket->deleteLater();
            continue;
        }
        const quint64 number = m_next++;
        socket->setParent(&m_context);
        Connection& connection = m_connections[number];
        connection.socket = socket;
        connection.uid = peer->uid;
        connection.reader =
            FrameReader(kFromBrowserFrameCap, [this, number](const QByteArray& why) {
                if (const auto found = m_connections.find(number); found != m_connections.end()) {
                    found->second.fault = why;
                }
            });
        // Which browser this is, by the program that started the host: Vivaldi, Opera and
        // headless Chrome call themselves Chromium inside.
        const QString program = BrowserFamilyOfParent(peer->pid);
        {
            const std::lock_guard lock(m_mutex);
            Browser& browser = m_browsers[number];
            browser.name = u"bridge:"_s + QString::number(number);
            browser.program = program;
            browser.uid = peer->uid;
            browser.pid = peer->pid;
        }
        QObject::connect(socket, &QLocalSocket::readyRead, &m_context,
                         [this, number] { Read(number); });
        QObject::connect(socket, &QLocalSocket::disconnected, &m_context,
                         [this, number] { Drop(number); });
        SendSites(m_connections[number]);
        Read(number);
        if (socket->state() != QLocalSocket::ConnectedState) {
            Drop(number); // it went before its signals were connected, or was cut off
        }
    }
}

QString BridgeServer::Family(const Browser& browser) {
    return browser.program.isEmpty() ? browser.hello.browser : browser.program;
}

void BridgeServer::Read(quint64 number) {
    const auto connection = m_connections.find(number);
    if (connection == m_connections.end()) {
        return;
    }
    const std::vector<QJsonObject> messages =
        connection->second.reader.Feed(connection->second.socket->readAll());
    if (!connection->second.fault.isEmpty()) {
        CutOff(number, u"malformed"_s, u"浏览器桥上的一个连接发来了浏览器不会发的数据，已断开"_s,
               QString::fromUtf8(connection->second.fault));
        return;
    }
    const auto now = Clock::now();
    bool changed = false;
    for (const QJsonObject& message : messages) {
        QString why;
        BridgeMessage decoded = DecodeBridgeMessage(message, &why);
        std::unique_lock lock(m_mutex);
        Browser& browser = m_browsers[number];
        if (const auto* hello = std::get_if<BridgeHello>(&decoded)) {
            if (browser.hello != BridgeHello{}) {
                --m_seen[{browser.uid, Identity(browser.hello)}];
            }
            browser.hello = *hello;
            ++m_seen[{browser.uid, Identity(browser.hello)}];
            m_lost.erase({browser.uid, Identity(browser.hello)});
            if (m_watch.link) {
                m_watch.link->Connected(number, browser.pid);
            }
        } else if (auto* tabs = std::get_if<BridgeTabs>(&decoded)) {
            if (!m_budget.Take(browser.uid, tabs->tabs, browser.tabs, now)) {
                lock.unlock();
                CutOff(number, u"flood"_s,
                       u"浏览器桥上的一个连接在一分钟内报告了超过 %1 个新标题，已断开"_s.arg(
                           NewTitleBudget::kPerMinute),
                       {});
                return;
            }
            // The extension repeats its list every 2 s; only a change is worth an early cycle.
            changed = changed || !browser.listed || tabs->tabs != browser.tabs;
            browser.listed = true;
            browser.tabs = std::move(tabs->tabs);
            browser.reported.clear();
            for (const BridgeTab& tab : browser.tabs) {
                browser.reported.insert(tab.id);
            }
        } else if (const auto* challenge = std::get_if<BridgeChallenge>(&decoded)) {
            lock.unlock();
            Answer(connection->second, *challenge, now);
        } else {
            // Only hellos, tab lists and challenges come from a host.
            lock.unlock();
            CutOff(number, u"malformed"_s,
                   u"浏览器桥上的一个连接发来了浏览器不会发的数据，已断开"_s,
                   why.isEmpty() ? message.value(u"type"_s).toString() : why);
            return;
        }
    }
    std::function<void()> notify;
    if (changed) {
        const std::lock_guard lock(m_mutex);
        notify = m_notify;
    }
    if (notify) {
        notify();
    }
}

void BridgeServer::CutOff(quint64 number, const QString& kind, const QString& notice,
                          const QString& detail) {
    const auto connection = m_connections.find(number);
    // Its signals go first: the abort would otherwise drop it under our feet.
    QObject::disconnect(connection->second.socket, nullptr, &m_context, nullptr);
    connection->second.socket->abort();
    {
        const std::lock_guard lock(m_mutex);
        const uid_t uid = m_browsers[number].uid;
        m_log.Happened(kind + u' ' + QString::number(uid), Whose(uid) + notice, detail,
                       Clock::now());
    }
    Drop(number);
}

void BridgeServer::Drop(quint64 number) {
    const auto connection = m_connections.find(number);
    if (connection == m_connections.end()) {
        return;
    }
    connection->second.socket->deleteLater();
    m_connections.erase(connection);
    if (m_watch.link) {
        m_watch.link->Gone(number);
    }
    std::function<void()> notify;
    {
        const std::lock_guard lock(m_mutex);
        const auto browser = m_browsers.find(number);
        if (browser != m_browsers.end()) {
            const BridgeHello& hello = browser->second.hello;
            // The last bridge of its kind: the extension was switched off or removed, or the
            // browser is being closed, which the next look at the processes tells apart.
            const Seat seat{browser->second.uid, Identity(hello)};
            if (hello != BridgeHello{} && --m_seen[seat] == 0 &&
                !Family(browser->second).isEmpty()) {
                m_lost[seat] = Lost{Family(browser->second), Clock::now()};
            }
            m_browsers.erase(browser);
        }
        notify = m_notify;
    }
    // Its tabs are gone from the collection: worth a cycle as any other change.
    if (notify) {
        notify();
    }
}

void BridgeServer::Close(quint64 number, qint64 tab) {
    const auto connection = m_connections.find(number);
    if (connection == m_connections.end()) {
        return;
    }
    if (const auto frame =
            EncodeFrame(EncodeBridgeMessage(BridgeClose{{tab}}), kToBrowserFrameCap)) {
        connection->second.socket->write(*frame);
    }
}

void BridgeServer::SendAlive() {
    if (const auto frame = EncodeFrame(EncodeBridgeMessage(BridgeAlive{}), kToBrowserFrameCap)) {
        for (const auto& [number, connection] : m_connections) {
            connection.socket->write(*frame);
        }
    }
}

void BridgeServer::Answer(Connection& connection, const BridgeChallenge& challenge,
                          Clock::time_point now) {
    if (!m_watch.sign) {
        return; // a user's own winwarden is no guard, and cannot say it is one
    }
    // An extension asks about once a second; a client after signatures by the thousand gets
    // no more than this a second.
    if (now - connection.answering >= std::chrono::seconds(1)) {
        connection.answering = now;
        connection.answered = 0;
    }
    if (++connection.answered > kAnswersPerSecond) {
        return;
    }
    const qint64 time = std::chrono::duration_cast<std::chrono::milliseconds>(
                            std::chrono::system_clock::now().time_since_epoch())
                            .count();
    const QByteArray signature = m_watch.sign(BridgeProofText(challenge.nonce, time));
    if (signature.isEmpty()) {
        return;
    }
    const BridgeProof proof{challenge.nonce, time, QString::fromLatin1(signature.toBase64())};
    if (const auto frame = EncodeFrame(EncodeBridgeMessage(proof), kToBrowserFrameCap)) {
        connection.socket->write(*frame);
    }
}

std::vector<QByteArray> BridgeServer::SiteFramesFor(uid_t uid) const {
    BridgeSites sites{m_sites->block, m_sites->allow, false, m_sites->blockAll};
    for (auto reason = m_sites->reasons.begin(); reason != m_sites->reasons.end(); ++reason) {
        sites.reasons.insert(reason.key(), reason.value());
    }
    // A user's own bridge serves one user, whom the rules may also name as "the only one".
    std::vector<qint64> whose{qint64(uid)};
    if (!m_system) {
        whose.push_back(-1);
    }
    for (const qint64 user : whose) {
        const auto own = m_sites->users.find(user);
        if (own == m_sites->users.end()) {
            continue;
        }
        // A user's own block (an allowance used up) outweighs the same host's common 通过:
        // the engine lets a site with an allowance pass until it is used up.
        for (const QString& host : own->block) {
            sites.allow.removeAll(host);
            if (!sites.block.contains(host)) {
                sites.block.append(host);
            }
        }
        sites.all = sites.all || own->blockAll;
        for (auto reason = own->reasons.begin(); reason != own->reasons.end(); ++reason) {
            sites.reasons.insert(reason.key(), reason.value());
        }
    }
    QStringList left;
    std::vector<QByteArray> frames;
    for (const BridgeSites& part : SplitBridgeSites(sites, kToBrowserFrameCap, &left)) {
        if (const auto frame = EncodeFrame(EncodeBridgeMessage(part), kToBrowserFrameCap)) {
            frames.push_back(*frame);
        }
    }
    if (!left.isEmpty()) {
        LogLine(u"%1 条网站规则太长，无法发给浏览器：%2"_s.arg(left.size())
                    .arg(left.join(u' ').left(200)));
    }
    return frames;
}

void BridgeServer::SendSites(Connection& connection) const {
    if (!m_sites) {
        return;
    }
    std::vector<QByteArray> frames = SiteFramesFor(connection.uid);
    if (frames == connection.sites) {
        return;
    }
    for (const QByteArray& frame : frames) {
        connection.socket->write(frame);
    }
    connection.sites = std::move(frames);
}

void BridgeServer::SetSiteRules(const SiteRules& rules) {
    if (m_siteRules == rules) {
        return;
    }
    m_siteRules = rules;
    QMetaObject::invokeMethod(
        &m_context,
        [this, rules] {
            m_sites = rules;
            for (auto& [number, connection] : m_connections) {
                SendSites(connection);
            }
        },
        Qt::QueuedConnection);
}

void BridgeServer::Notify(qint64 uid, const QString& text) {
    QMetaObject::invokeMethod(
        &m_context, [this, uid, text] { SendNotice(uid, text); }, Qt::QueuedConnection);
}

void BridgeServer::SendNotice(qint64 uid, const QString& text) {
    const auto frame = EncodeFrame(EncodeBridgeMessage(BridgeNotice{text}), kToBrowserFrameCap);
    if (!frame) {
        return;
    }
    for (const auto& [number, connection] : m_connections) {
        if (uid == -1 || qint64(connection.uid) == uid) {
            connection.socket->write(*frame);
        }
    }
}

void BridgeServer::SetChangeNotifier(std::function<void()> notify) {
    const std::lock_guard lock(m_mutex);
    m_notify = std::move(notify);
}

void BridgeServer::Look(Clock::time_point now) {
    if (!m_watch.running) {
        return;
    }
    bool due = !m_looked || now - *m_looked >= m_watch.interval;
    if (!due) {
        // A bridge that went away is worth a look as soon as it has settled.
        const std::lock_guard lock(m_mutex);
        due = std::any_of(m_lost.begin(), m_lost.end(), [&](const auto& lost) {
            const auto settled = lost.second.at + m_watch.settle;
            return settled <= now && *m_looked < settled;
        });
    }
    if (due) {
        m_running = m_watch.running();
        m_looked = now;
    }
}

// Called with m_mutex held.
void BridgeServer::AddNotices(BrowserPass& pass, Clock::time_point now) {
    const auto running = [&](const Seat& seat) {
        return std::find(m_running.begin(), m_running.end(),
                         RunningBrowser{seat.first, seat.second}) != m_running.end();
    };
    QStringList notices;
    std::set<Seat> lostFamilies;
    for (auto lost = m_lost.begin(); lost != m_lost.end();) {
        const Seat family{lost->first.first, lost->second.family};
        if (m_watch.running) {
            if (!m_looked || *m_looked < lost->second.at + m_watch.settle) {
                ++lost; // not known yet whether the browser is still there
                continue;
            }
            if (!running(family)) {
                lost = m_lost.erase(lost); // it was closed: nothing to see
                continue;
            }
        }
        lostFamilies.insert(family);
        notices.append(Whose(family.first) + u"%1 的扩展连接已断开"_s.arg(Shown(family.second)));
        ++lost;
    }
    std::set<Seat> connected;
    for (const auto& [number, browser] : m_browsers) {
        connected.insert({browser.uid, Family(browser)});
    }
    std::erase_if(m_without, [&](const auto& without) {
        return !running(without.first) || connected.contains(without.first);
    });
    for (const RunningBrowser& browser : m_running) {
        const Seat family{browser.uid, browser.family};
        if (connected.contains(family)) {
            continue;
        }
        const auto since = m_without.try_emplace(family, now).first->second;
        if (now - since >= m_watch.grace && !lostFamilies.contains(family)) {
            notices.append(Whose(browser.uid) +
                           u"%1 正在运行，但没有连上浏览哨兵扩展"_s.arg(Shown(browser.family)));
        }
    }
    m_log.Hold(notices);
    if (m_watch.link) {
        for (const auto& [key, notice] : m_watch.link->TakeReports()) {
            m_log.Happened(key, notice, {}, now);
        }
    }
    notices += m_log.Recent(now);
    pass.notices.assign(notices.begin(), notices.end());
}

BrowserPass BridgeServer::TakePass() {
    BrowserPass pass;
    const auto now = Clock::now();
    Look(now); // outside the lock: the server's thread need not wait for /proc
    const std::lock_guard lock(m_mutex);
    AddNotices(pass, now);
    for (const auto& [number, browser] : m_browsers) {
        ++pass.browsersWatched;
        if (!browser.listed) {
            continue;
        }
        ++pass.browsersRead;
        for (const BridgeTab& tab : browser.tabs) {
            BrowserWindow window;
            window.kind = BrowserWindow::Kind::HtmlDocument;
            window.title = IsUntitled(tab.title, tab.url) ? QString() : tab.title;
            window.url = tab.url;
            window.handle.browser = browser.name;
            window.handle.id = QString::number(tab.id);
            window.family = Family(browser);
            window.uid = browser.uid;
            window.inFront = tab.InFront();
            pass.windows.push_back(std::move(window));
        }
    }
    // The hosts hear that a cycle runs, so that an extension can tell a monitor that stopped.
    if (!m_alive || now - *m_alive >= std::chrono::seconds(1)) {
        m_alive = now;
        QMetaObject::invokeMethod(
            &m_context, [this] { SendAlive(); }, Qt::QueuedConnection);
    }
    return pass;
}

void BridgeServer::RequestClose(const WindowHandle& window) {
    bool whole = false;
    const qint64 tab = window.id.toLongLong(&whole);
    if (!whole) {
        return;
    }
    quint64 number = 0;
    {
        const std::lock_guard lock(m_mutex);
        const auto browser =
            std::find_if(m_browsers.begin(), m_browsers.end(),
                         [&](const auto& entry) { return entry.second.name == window.browser; });
        if (browser == m_browsers.end() || !browser->second.reported.contains(tab)) {
            return;
        }
        number = browser->first;
    }
    // The socket may only be touched in its own thread.
    QMetaObject::invokeMethod(
        &m_context, [this, number, tab] { Close(number, tab); }, Qt::QueuedConnection);
}

std::unique_ptr<BrowserSource> MakeBridgeSource(BridgeWatch watch) {
    return std::make_unique<BridgeServer>(std::move(watch));
}

std::unique_ptr<BrowserSource> MakeSystemBridgeSource(const QString& path, BridgeWatch watch) {
    return std::make_unique<BridgeServer>(std::move(watch), path);
}

} // namespace winwarden
