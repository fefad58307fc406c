#pragma once

#include <QHash>
#include <QObject>
#include <QStringList>
#include <QTimer>
#include <functional>

namespace winwarden {

// Tells the user which pages the monitor closed, without a storm: closes that come within a
// short while make one message with a count, and a page that keeps coming back is told of at
// most once a minute.
class CloseNotifier final : public QObject {
    Q_OBJECT
public:
    using Show = std::function<void(const QString& text)>;

    static constexpr int kGatherMs = 1500;  // closes this close together make one message
    static constexpr int kRepeatMs = 60000; // a page told of is not told of again within this

    CloseNotifier(Show show, QObject* parent = nullptr, int gatherMs = kGatherMs,
                  int repeatMs = kRepeatMs);

    void OnWindowClosing(const QString& title);

    // The message for these titles.
    static QString Text(const QStringList& titles);

private:
    void Flush();

    Show m_show;
    int m_repeatMs;
    QTimer m_gather;
    QStringList m_titles;          // gathered for the next message, in order, once each
    QHash<QString, qint64> m_told; // title -> when it was last told of (ms since epoch)
};

} // namespace winwarden
