#pragma once

#include "platform/bridgeprotocol.h"
#include "platform/nativeframing.h"
#include "platform/peercred.h"
#include "sources/bridge/bridgesource.h"
#include "sources/bridge/clientchecks.h"

#include <QLocalServer>
#include <QLocalSocket>
#include <map>
#include <mutex>
#include <optional>
#include <unordered_set>

namespace winwarden {

// The bridge source (see bridgesource.h). The server, the sockets and their readers belong to
// the thread that made it; what TakePass and RequestClose read is guarded by m_mutex.
class BridgeServer final : public BrowserSource {
public:
    // The user's own bridge on BridgeSocketPath().
    explicit BridgeServer(BridgeWatch watch);
    // The system guard's bridge on `systemPath`, for every user.
    BridgeServer(BridgeWatch watch, const QString& systemPath);

    void SetChangeNotifier(std::function<void()> notify) override;
    BrowserPass TakePass() override;
    void RequestClose(const WindowHandle& window) override;
    void SetSiteRules(const SiteRules& rules) override;
    void Notify(qint64 uid, const QString& text) override;

private:
    struct Connection {
        QLocalSocket* socket = nullptr;
        FrameReader reader{kFromBrowserFrameCap};
        QByteArray fault; // why the reader dropped a frame: no host sends such frames
        // The challenges answered in the second that began at `answering`.
        BridgeClock::time_point answering;
        int answered = 0;
        uid_t uid = 0; // the user at the other end, as the kernel says
        // The 网站 rules as last sent to it, as frames: a change for other users sends nothing.
        std::vector<QByteArray> sites;
    };
    struct Browser {
        QString name;    // the handle's browser: "bridge:<number>"
        QString program; // the family of the program that started the host, where known
        uid_t uid = 0;   // the user at the other end, as the kernel says
        pid_t pid = 0;   // the host, as the kernel says
        BridgeHello hello;
        bool listed = false; // a tab list has come
        std::vector<BridgeTab> tabs;
        std::unordered_set<qint64> reported;
    };

    using Clock = BridgeClock;
    // A user and what identifies a browser of theirs: a family, or "<family> <caller>".
    using Seat = std::pair<uid_t, QString>;
    // A browser whose last bridge went away.
    struct Lost {
        QString family;
        Clock::time_point at;
    };

    // The browser's family: the host's parent program's where known, else the extension's.
    static QString Family(const Browser& browser);

    BridgeServer(BridgeWatch watch, std::optional<QString> systemPath);
    bool Listen(const QString& path);
    // Who may connect: anyone to the system guard's socket, only this user to their own.
    bool AcceptsPeer(const PeerCredentials& peer) const;
    // How notices and the log name the user of a browser: not at all on a user's own bridge.
    QString Whose(uid_t uid) const;
    void Look(Clock::time_point now);
    void AddNotices(BrowserPass& pass, Clock::time_point now);
    void Accept();
    void Read(quint64 number);
    // Ends a connection that sent what no host sends, and says so.
    void CutOff(quint64 number, const QString& kind, const QString& notice, const QString& detail);
    void Drop(quint64 number);
    void Close(quint64 number, qint64 tab);
    void SendAlive();
    // Answers a challenge with the guard's signature, where this bridge has one.
    void Answer(Connection& connection, const BridgeChallenge& challenge, Clock::time_point now);
    // Sends the rules that hold for the connection's user, when they differ from the last.
    void SendSites(Connection& connection) const;
    // The frames of the rules that hold for `uid`: the common ones and that user's own.
    std::vector<QByteArray> SiteFramesFor(uid_t uid) const;
    void SendNotice(qint64 uid, const QString& text);

    const bool m_system;
    std::map<quint64, Connection> m_connections; // the server's thread only
    // The 网站 rules for the browsers, the server's thread only; none until the rules have been
    // given, so that a browser keeps the ones it has until then.
    std::optional<SiteRules> m_sites;
    std::optional<SiteRules> m_siteRules; // the caller of SetSiteRules only
    quint64 m_next = 1;
    std::mutex m_mutex;
    std::map<quint64, Browser> m_browsers; // by connection number: the order they came in
    // Every kind of browser seen so far (user, "<family> <caller>") and how many are connected
    // now, so that one that goes away while others stay can be told apart.
    std::map<Seat, int> m_seen;
    std::map<Seat, Lost> m_lost; // by (user, "<family> <caller>")
    std::function<void()> m_notify;
    NewTitleBudget m_budget;
    TamperLog m_log;

    // The passes' own: what the last look at the processes saw, since when each running
    // browser has been without a bridge, and when the hosts last heard that we are alive.
    const BridgeWatch m_watch;
    std::vector<RunningBrowser> m_running;
    std::optional<Clock::time_point> m_looked;
    std::map<Seat, Clock::time_point> m_without; // by (user, family)
    std::optional<Clock::time_point> m_alive;

    QLocalServer m_server;
    // Parent of the sockets and context of every connection and queued write: it goes first,
    // and with it every call that could still reach the members above.
    QObject m_context;
};

} // namespace winwarden
