#pragma once

#include <QDialog>

namespace winwarden {

// The About box: program icon, product line and an OK button, laid out from res/dialogs.h.
class CAboutDlg final : public QDialog {
    Q_OBJECT
public:
    explicit CAboutDlg(QWidget* parent = nullptr);

    // Pixels of one horizontal and one vertical dialog unit at the dialog's font.
    double UnitWidth() const { return m_unitWidth; }
    double UnitHeight() const { return m_unitHeight; }

private:
    QRect ToPixels(int x, int y, int width, int height) const;

    double m_unitWidth = 0;
    double m_unitHeight = 0;
};

} // namespace winwarden
