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

// Relays between one browser's companion extension (standard input and output) and the running
// winwarden (the bridge socket). It interprets nothing beyond the messages it relays: it
// forwards the hello and the tab lists, passes on a close request only for tabs this browser
// reported, and passes on the 网站 rules as they come. While winwarden is away it keeps the latest
// tab list and tries again.
class HostRelay final : public QObject {
public:
    explicit HostRelay(QString caller);

private:
    void ReadBrowser();
    void OnBrowserMessage(const QJsonObject& message);
    void Connect();
    void OnConnected();
    void OnConnectionLost();
    void ReadWinwarden();
    void SendToWinwarden(const QJsonObject& message);
    void SendToBrowser(const std::vector<qint64>& tabs);
    void SendToBrowser(const QJsonObject& message);

    QString m_caller;
    QSocketNotifier m_stdin;
    FrameReader m_fromBrowser;
    FrameReader m_fromWinwarden;
    QLocalSocket m_socket;
    QTimer m_retry;
    bool m_saidWaiting = false;
    BridgeHello m_hello;
    std::optional<BridgeTabs> m_tabs;
    std::unordered_set<qint64> m_reported; // the tab ids of the latest list
};

} // namespace winwarden
