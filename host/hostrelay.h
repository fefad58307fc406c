#pragma once

#include "platform/bridgeprotocol.h"
#include "platform/nativeframing.h"

#include <QLocalSocket>
#include <QObject>
#include <QSocketNotifier>
#include <QTimer>
#include <optional>
#include <unordered_set>

namespace winwarden {

// Relays between one browser's companion extension (standard input and output) and the monitor:
// the system guard whenever its socket (kSystemBridgeSocket) answers and its peer is root or
// the guard's system user, otherwise the user's own winwarden (BridgeSocketPath()). While on
// the user's own, it keeps looking for the guard and moves to it when one comes up. It
// interprets nothing beyond the messages it relays: it forwards the hello and the tab lists,
// passes on a close request only for tabs this browser reported, passes on the 网站 rules as
// they come, each "alive" saying whether it came from the guard, the extension's challenges and
// the answers to them (which only the extension judges). While no monitor answers it keeps the
// latest tab list and challenge, and tries again.
class HostRelay final : public QObject {
public:
    explicit HostRelay(QString caller);

private:
    void ReadBrowser();
    void OnBrowserMessage(const QJsonObject& message);
    // Looks for the guard, and where none answers, for the user's own winwarden.
    void Connect();
    void Attempt(const QString& path, bool guard);
    void OnAttemptConnected();
    void OnAttemptFailed();
    void DiscardAttempt();
    // Whether the system socket's peer is the guard: root or the guard's system user.
    static bool IsGuard(const QLocalSocket& socket);
    void Link(QLocalSocket* socket, bool guard);
    void OnLinkLost();
    void ReadWinwarden();
    void SendToWinwarden(const QJsonObject& message);
    void SendToBrowser(const QJsonObject& message);
    void SendClosesToBrowser(const std::vector<qint64>& tabs);
    void WaitAndRetry(int milliseconds);

    QString m_caller;
    QSocketNotifier m_stdin;
    FrameReader m_fromBrowser;
    FrameReader m_fromWinwarden;
    QLocalSocket* m_link = nullptr;    // the monitor, once connected
    bool m_linkIsGuard = false;        // m_link is the verified system guard
    QLocalSocket* m_attempt = nullptr; // a connection being made
    bool m_attemptIsGuard = false;
    QTimer m_retry;
    bool m_saidWaiting = false;
    bool m_saidNotGuard = false;
    BridgeHello m_hello;
    std::optional<BridgeTabs> m_tabs;
    std::optional<BridgeChallenge> m_challenge; // the extension's latest
    std::unordered_set<qint64> m_reported;      // the tab ids of the latest list
};

} // namespace winwarden
