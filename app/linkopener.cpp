#include "app/linkopener.h"

#include "monitor/messagebox.h"

#include <QDesktopServices>
#include <QProcess>

namespace winwarden {

namespace {

const QStringList kSchemes = {QStringLiteral("http"), QStringLiteral("https")};

// Waits up to three seconds for the opener: an opener that has failed by then reports its
// status; one still running has handed the address to a browser and is left to it.
const QString kWatch = QStringLiteral(R"sh(
xdg-open "$1" </dev/null >/dev/null 2>&1 & opener=$!
i=0
while [ $i -lt 30 ]; do
    kill -0 $opener 2>/dev/null || { wait $opener; exit; }
    sleep 0.1
    i=$((i + 1))
done
)sh");

} // namespace

LinkOpener::LinkOpener(QWidget* owner) : m_owner(owner) {
    for (const QString& scheme : kSchemes) {
        QDesktopServices::setUrlHandler(scheme, this, "Open");
    }
}

LinkOpener::~LinkOpener() {
    for (const QString& scheme : kSchemes) {
        QDesktopServices::unsetUrlHandler(scheme);
    }
}

void LinkOpener::Open(const QUrl& url) {
    const QString address = url.toString();
    auto* watch = new QProcess(this);
    watch->setStandardOutputFile(QProcess::nullDevice());
    watch->setStandardErrorFile(QProcess::nullDevice());
    connect(watch, &QProcess::finished, this,
            [this, watch, address](int code, QProcess::ExitStatus how) {
                watch->deleteLater();
                if (how != QProcess::NormalExit || code != 0) {
                    ReportUnopenedLink(m_owner, address);
                }
            });
    connect(watch, &QProcess::errorOccurred, this,
            [this, watch, address](QProcess::ProcessError error) {
                if (error == QProcess::FailedToStart) {
                    watch->deleteLater();
                    ReportUnopenedLink(m_owner, address);
                }
            });
    watch->start(QStringLiteral("/bin/sh"), {QStringLiteral("-c"), kWatch, QStringLiteral("sh"),
                                             url.toString(QUrl::FullyEncoded)});
}

} // namespace winwarden
