#include "app/closenotifier.h"

#include "res/texts.h"

#include <QDateTime>

namespace winwarden {

namespace {

constexpr int kTitlesNamed = 3;
constexpr int kTitleChars = 60;

QString Short(const QString& title) {
    return title.size() > kTitleChars ? title.left(kTitleChars) + QChar(0x2026) : title;
}

} // namespace

CloseNotifier::CloseNotifier(Show show, QObject* parent, int gatherMs, int repeatMs)
    : QObject(parent), m_show(std::move(show)), m_repeatMs(repeatMs) {
    m_gather.setSingleShot(true);
    m_gather.setInterval(gatherMs);
    connect(&m_gather, &QTimer::timeout, this, &CloseNotifier::Flush);
}

void CloseNotifier::OnWindowClosing(const QString& title) {
    const qint64 now = QDateTime::currentMSecsSinceEpoch();
    const auto told = m_told.constFind(title);
    if ((told != m_told.cend() && now - *told < m_repeatMs) || m_titles.contains(title)) {
        return;
    }
    m_titles.append(title);
    if (!m_gather.isActive()) {
        m_gather.start();
    }
}

void CloseNotifier::Flush() {
    if (m_titles.isEmpty()) {
        return;
    }
    const qint64 now = QDateTime::currentMSecsSinceEpoch();
    for (auto it = m_told.begin(); it != m_told.end();) {
        it = now - it.value() >= m_repeatMs ? m_told.erase(it) : std::next(it);
    }
    for (const QString& title : std::as_const(m_titles)) {
        m_told.insert(title, now);
    }
    m_show(Text(std::exchange(m_titles, {})));
}

QString CloseNotifier::Text(const QStringList& titles) {
    if (titles.size() == 1) {
        return text::kClosedOne.arg(Short(titles.first()));
    }
    QStringList named;
    for (const QString& title : titles.first(std::min<qsizetype>(titles.size(), kTitlesNamed))) {
        named << Short(title);
    }
    QString list = named.join(QStringLiteral("、"));
    if (titles.size() > kTitlesNamed) {
        list += QStringLiteral("等");
    }
    return text::kClosedMany.arg(titles.size()).arg(list);
}

} // namespace winwarden
