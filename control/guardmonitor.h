#pragma once

#include "control/controlprotocol.h"
#include "engine/monitor.h"
#include "platform/nativeframing.h"

#include <QLocalSocket>
#include <QTimer>
#include <deque>
#include <optional>

namespace winwarden {

// The window's monitor while a system guard runs: a client of the guard's control socket
// (controlprotocol.h). The guard monitors all along; Start and Stop only start and stop the
// window's share of the live list. The rule commands go to the guard, which decides whether
// this user may give them, and wait for its answer at most kAnswerMs: a guard that does not
// answer, or has gone, is a StoreError with a message the user can read. A guard that goes is
// said in the status and reached again every kRetryMs.
class GuardMonitor final : public Monitor {
    Q_OBJECT
public:
    static constexpr int kAnswerMs = 3000;
    static constexpr int kRetryMs = 2000;

    explicit GuardMonitor(QString path, QObject* parent = nullptr);
    ~GuardMonitor() override;

    // Connects and waits for the guard's welcome; false when no guard answers within `ms`.
    bool Connect(int ms = kAnswerMs);

    void Start() override;
    void Stop() override;
    bool IsMonitoring() const override { return m_showing; }
    const MonitorStatus& Status() const override { return m_status; }
    // The guard keeps its own time.
    void OnTimer() override {}

    std::vector<Rule> ListByFlag(const QString& flag) override;
    std::optional<Rule> FindByName(const QString& name) override;
    int SetFlagForWindow(const QString& flag, const QString& name, const QString& url) override;
    int DeleteRule(const QString& name, const QString& url) override;
    bool AddRule(const QString& name, const QString& url, const QString& flag) override;
    std::vector<MatchRuleRow> ListMatchRules() override;
    bool HasMatchTable() override;
    void AddMatchTable() override;
    std::optional<MatchRuleRow> FindMatchRule(const QString& kind, const QString& text) override;
    bool AddMatchRule(const QString& kind, const QString& text, const QString& flag) override;
    int SetMatchRuleFlag(qint64 id, const QString& flag) override;
    int SetMatchRuleTimes(qint64 id, const QString& times) override;
    int DeleteMatchRule(qint64 id) override;
    std::vector<VisitRow> ListVisits(const VisitQuery& query) override;
    std::vector<AllowanceUse> AllowanceUses() override;
    // As the guard decided for this connection.
    bool MayChangeRules() const override { return m_admin; }

private:
    // The result of the command, or a StoreError with the guard's reason.
    QJsonValue Call(ControlCommand command, const QStringList& args, qint64 rule = 0);
    template <typename T> T Expect(std::optional<T> result);
    void Send(const QJsonObject& message);
    void ReadAvailable();
    void Handle(const GuardMessage& message);
    void DispatchPending();
    void Lost();
    void TryAgain();
    void ShowStatus();

    const QString m_path;
    QLocalSocket m_socket;
    FrameReader m_reader;
    bool m_fault = false;
    bool m_welcomed = false; // connected, and the guard has said who we are
    bool m_admin = false;
    bool m_showing = false;
    qint64 m_nextId = 1;
    // While a command waits for its answer, what else comes waits here, so that the view
    // hears of it only once the command has returned.
    bool m_inCall = false;
    std::optional<GuardReply> m_reply;
    std::deque<GuardMessage> m_pending;
    bool m_dispatchQueued = false;
    MonitorStatus m_guardStatus;
    MonitorStatus m_status;
    QTimer m_retry;
};

} // namespace winwarden
