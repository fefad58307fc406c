#include "app/aboutdlg.h"

#include "app/icons.h"
#include "res/dialogs.h"
#include "res/version.h"

#include <QFontMetricsF>
#include <QGroupBox>
#include <QLabel>
#include <QPushButton>
#include <cmath>

namespace winwarden {

CAboutDlg::CAboutDlg(QWidget* parent) : QDialog(parent) {
    setObjectName(QStringLiteral("aboutDialog"));
    setWindowTitle(res::kAboutBox.caption.toString());

    QFont font(res::kAboutBox.fontFamily.toString());
    font.setPointSize(res::kAboutBox.fontPointSize);
    setFont(font);

    // Dialog units: a quarter of the font's average character width across, an eighth of its
    // height down, so that the layout grows with the font.
    const QFontMetricsF metrics(font);
    const QString alphabet = QStringLiteral("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz");
    const double averageWidth = std::round(metrics.horizontalAdvance(alphabet) / 52.0);
    m_unitWidth = std::max(1.0, averageWidth) / 4.0;
    m_unitHeight = std::max(1.0, std::round(metrics.height())) / 8.0;

    for (const res::DialogControl& control : res::kAboutBoxControls) {
        const QRect rect = ToPixels(control.x, control.y, control.width, control.height);
        switch (control.kind) {
        case res::ControlKind::Icon: {
            auto* picture = new QLabel(this);
            picture->setObjectName(QStringLiteral("aboutIcon"));
            const int side = std::max(32, rect.width());
            picture->setPixmap(AppIcon().pixmap(side, side));
            picture->setGeometry(QRect(rect.topLeft(), QSize(side, side)));
            break;
        }
        case res::ControlKind::Text: {
            // The product line names the version the build was made with.
            auto* label = new QLabel(control.text.toString().replace(
                                         QStringLiteral("%1"), QLatin1StringView(res::kVersion)),
                                     this);
            label->setObjectName(QStringLiteral("aboutText"));
            label->setTextFormat(Qt::PlainText);
            label->setGeometry(rect.adjusted(0, 0, 0, rect.height()));
            label->setAlignment(Qt::AlignLeft | Qt::AlignTop);
            break;
        }
        case res::ControlKind::Button: {
            auto* button = new QPushButton(control.text.toString(), this);
            button->setObjectName(QStringLiteral("okButton"));
            button->setGeometry(rect);
            button->setDefault(true);
            connect(button, &QPushButton::clicked, this, &QDialog::accept);
            break;
        }
        case res::ControlKind::GroupBox: {
            auto* frame = new QGroupBox(this);
            frame->setGeometry(rect);
            frame->lower();
            break;
        }
        }
    }
    setFixedSize(ToPixels(0, 0, res::kAboutBox.width, res::kAboutBox.height).size());
}

QRect CAboutDlg::ToPixels(int x, int y, int width, int height) const {
    const auto px = [](int units, double unit) {
        return static_cast<int>(std::lround(units * unit));
    };
    return {px(x, m_unitWidth), px(y, m_unitHeight), px(width, m_unitWidth),
            px(height, m_unitHeight)};
}

} // namespace winwarden
