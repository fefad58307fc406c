#pragma once

#include "platform/bridgeprotocol.h"
#include "platform/nativeframing.h"
#include "sources/bridge/bridgesource.h"

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
    explicit BridgeServer(BridgeWatch watch);

    void SetChangeNotifier(std::function<void()> notify) override;
    BrowserPass TakePass() override;
    void RequestClose(const WindowHandle& window) override;
    void SetSiteRules(const SiteRules& rules) override;

private:
    struct Connection {
        QLocalSocket* socket = nullptr;
        FrameReader reader{kFromBrowserFrameCap};
    };
    struct Browser {
        QString name;    // the handle's browser: "bridge:<number>"
        QString program; // the family of the program that started the host, where known
        BridgeHello hello;
        bool listed = false; // a tab list has come
        std::vector<BridgeTab> tabs;
        std::unordered_set<qint64> reported;
    };

    using Clock = std::chrono::steady_clock;
    // A browser whose last bridge went away.
    struct Lost {
        QString family;
        Clock::time_point at;
    };

    // The browser's family: the host's parent program's where known, else the extension's.
    static QString Family(const Browser& browser);

    bool Listen(const QString& path);
    void Look(Clock::time_point now);
    void AddNotices(BrowserPass& pass, Clock::time_point now);
    void Accept();
    void Read(quint64 number);
    void Drop(quint64 number);
    void Close(quint64 number, qint64 tab);
    void SendSites(const Connection& connection) const;

    std::map<quint64, Connection> m_connections; // the server's thread only
    // The 网站 rules as frames for the browsers, the server's thread only; none until the
    // rules have been given, so that a browser keeps the ones it has until then.
    std::vector<QByteArray> m_siteFrames;
    std::optional<SiteRules> m_siteRules; // the caller of SetSiteRules only
    quint64 m_next = 1;
    std::mutex m_mutex;
    std::map<quint64, Browser> m_browsers; // by connection number: the order they came in
    // Every kind of browser seen so far ("<family> <caller>") and how many are connected now,
    // so that one that goes away while others stay can be told apart.
    std::map<QString, int> m_seen;
    std::map<QString, Lost> m_lost; // by "<family> <caller>"
    std::function<void()> m_notify;

    // The passes' own: what the last look at the processes saw, and since when each running
    // family has been without a bridge.
    const BridgeWatch m_watch;
    QStringList m_running;
    std::optional<Clock::time_point> m_looked;
    std::map<QString, Clock::time_point> m_without;

    QLocalServer m_server;
    // Parent of the sockets and context of every connection and queued write: it goes first,
    // and with it every call that could still reach the members above.
    QObject m_context;
};

} // namespace winwarden
