#include "app/monitorpane.h"

#include "res/texts.h"

namespace winwarden {

MonitorPane::MonitorPane(QWidget* parent) : QLabel(parent) {
    setObjectName(QStringLiteral("monitorPane"));
    setTextFormat(Qt::PlainText);
    setFrameShape(QFrame::StyledPanel);
    Show(MonitorStatus{});
}

QString MonitorPane::Text(const MonitorStatus& status) {
    // Under a system guard the window's start and stop only say whether it shows the pages.
    QStringList parts{status.guarded      ? text::kPaneGuarded
                      : status.monitoring ? text::kPaneMonitoring
                                          : text::kPaneStopped};
    if (status.monitoring && status.cycled) {
        if (status.browsersRead == 0) {
            parts << text::kPaneNoBrowser;
        } else {
            parts << text::kPaneWindows.arg(status.windows);
            if (status.browsersRead < status.browsersWatched) {
                parts << text::kPaneSomeBrowsersSilent.arg(status.browsersWatched -
                                                           status.browsersRead);
            }
        }
    }
    if (!status.storeFailure.isEmpty()) {
        parts << text::kPaneStoreFailed;
    }
    parts << status.notices;
    return parts.join(QStringLiteral(" · "));
}

void MonitorPane::Show(const MonitorStatus& status) {
    setText(Text(status));
    const bool trouble = !status.storeFailure.isEmpty() || !status.notices.isEmpty() ||
                         (status.monitoring && status.cycled && status.browsersRead == 0);
    // Trouble stands out without anything to open; the tooltip has the whole story.
    setStyleSheet(trouble ? QStringLiteral("color: #b00000; font-weight: bold;") : QString());
    setToolTip(status.storeFailure);
}

} // namespace winwarden
