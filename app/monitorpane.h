#pragma once

#include "engine/monitor.h"

#include <QLabel>

namespace winwarden {

// The status-bar pane that always says how the monitor is doing: on or off (or in the system
// guard's hands), how many browser windows the last cycle saw, and any trouble (no browser
// answering, the rules failing) for as long as it lasts.
class MonitorPane final : public QLabel {
    Q_OBJECT
public:
    explicit MonitorPane(QWidget* parent = nullptr);

    void Show(const MonitorStatus& status);

    // The pane's text for a status.
    static QString Text(const MonitorStatus& status);
};

} // namespace winwarden
