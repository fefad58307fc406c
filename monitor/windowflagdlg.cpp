// The flag dialog: three read-only fields, a pass/block radio pair and three push buttons,
// laid out in dialog units so that the Chinese labels fit whatever the font's size.
#include "monitor/windowflagdlg.h"

#include "monitor/messagebox.h"
#include "monitor/scheduleedit.h"
#include "res/texts.h"
#include "store/flag.h"

#include <QDesktopServices>
#include <QFontDatabase>
#include <QFontMetrics>
#include <QGroupBox>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPointer>
#include <QPushButton>
#include <QRadioButton>
#include <QShowEvent>
#include <QUrl>
#include <limits>
#include <utility>

namespace winwarden {
namespace {

// The layout is measured for 9-point 宋体; the Song-style faces come first, then any CJK face,
// so that the Chinese labels fit the boxes measured for them.
QFont DialogFont() {
    static const QStringList preferred = {
        QStringLiteral("SimSun"),
        QStringLiteral("宋体"),
        QStringLiteral("NSimSun"),
        QStringLiteral("AR PL UMing CN"),
        QStringLiteral("Noto Serif CJK SC"),
        QStringLiteral("Noto Sans CJK SC"),
    };
    const QStringList available = QFontDatabase::families();
    for (const QString& family : preferred) {
        if (available.contains(family, Qt::CaseInsensitive)) {
            return QFont(family, 9);
        }
    }
    QFont font;
    font.setPointSize(9);
    return font;
}

// Dialog units: a quarter of the average character width across, an eighth of the character
// height down. The layout was drawn for a Song face whose Latin letters
// are half an ideograph wide, so that half-width cell is the average character here; the
// proportional Latin letters of other CJK faces would widen the dialog past the screen
// while the Chinese labels gained nothing.
class DialogUnits final {
public:
    explicit DialogUnits(const QFont& font) {
        const QFontMetrics metrics(font);
        m_baseX = std::max(1, (metrics.horizontalAdvance(QChar(0x4E2D)) + 1) / 2); // 中
        m_baseY = std::max(1, metrics.height());
    }

    QRect ToPixels(int x, int y, int width, int height) const {
        return {Scale(x, m_baseX, 4), Scale(y, m_baseY, 8), Scale(width, m_baseX, 4),
                Scale(height, m_baseY, 8)};
    }

private:
    static int Scale(int units, int base, int divisor) {
        return (units * base + divisor / 2) / divisor;
    }

    int m_baseX = 1;
    int m_baseY = 1;
};

QLineEdit* ReadOnlyField(QWidget* parent, const char* name) {
    auto* edit = new QLineEdit(parent);
    edit->setObjectName(QString::fromLatin1(name));
    edit->setReadOnly(true);
    // A page address can be far longer than a line edit's usual limit; show it whole.
    edit->setMaxLength(std::numeric_limits<int>::max());
    return edit;
}

QPushButton* PushButton(QWidget* parent, const QString& text, const char* name) {
    auto* button = new QPushButton(text, parent);
    button->setObjectName(QString::fromLatin1(name));
    // Enter goes to the focused button, or means OK elsewhere; no button is the default.
    button->setAutoDefault(false);
    button->setDefault(false);
    return button;
}

QRadioButton* RadioButton(QWidget* parent, const QString& text, const char* name) {
    auto* radio = new QRadioButton(text, parent);
    radio->setObjectName(QString::fromLatin1(name));
    radio->setFocusPolicy(Qt::ClickFocus); // not a tab stop
    return radio;
}

QLabel* StaticText(QWidget* parent, const QString& text) {
    auto* label = new QLabel(text, parent);
    label->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    return label;
}

} // namespace

CWindowFlagDlg::CWindowFlagDlg(QWidget* parent)
    : QDialog(parent, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                          Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint) {
    setObjectName(QStringLiteral("CWindowFlagDlg"));
    setWindowTitle(QStringLiteral("修改窗口标记"));
    setFont(DialogFont());
    CreateControls();
}

CWindowFlagDlg::~CWindowFlagDlg() = default;

void CWindowFlagDlg::CreateControls() {
    const DialogUnits units(font());
    // Creation order is the tab order.
    m_btnCancel = PushButton(this, text::kButtonCancel, "cancel");
    m_btnCancel->setGeometry(units.ToPixels(429, 99, 50, 14));
    auto* ok = PushButton(this, text::kButtonOk, "ok");
    ok->setGeometry(units.ToPixels(362, 99, 50, 14));
    m_radioPass = RadioButton(this, kFlagPass, "radioPass");
    m_radioPass->setGeometry(units.ToPixels(152, 101, 32, 10));
    m_radioBlock = RadioButton(this, kFlagBlock, "radioBlock");
    m_radioBlock->setGeometry(units.ToPixels(206, 101, 32, 10));
    auto* outer = new QGroupBox(this);
    outer->setGeometry(units.ToPixels(7, 0, 502, 138));
    StaticText(this, QStringLiteral("窗口名称："))->setGeometry(units.ToPixels(34, 31, 41, 8));
    m_editWindowName = ReadOnlyField(this, "windowName");
    m_editWindowName->setGeometry(units.ToPixels(75, 28, 412, 14));
    StaticText(this, QStringLiteral("网址："))->setGeometry(units.ToPixels(50, 54, 25, 8));
    m_editUrl = ReadOnlyField(this, "url");
    m_editUrl->setGeometry(units.ToPixels(75, 51, 412, 14));
    StaticText(this, QStringLiteral("开窗口标记："))->setGeometry(units.ToPixels(26, 102, 49, 8));
    m_editFlag = ReadOnlyField(this, "flag");
    m_editFlag->setGeometry(units.ToPixels(75, 99, 40, 14));
    auto* choice = new QGroupBox(QStringLiteral("选择"), this);
    choice->setGeometry(units.ToPixels(13, 85, 250, 37));
    auto* info = new QGroupBox(QStringLiteral("信息"), this);
    info->setGeometry(units.ToPixels(13, 16, 491, 57));
    m_btnOpenWindow = PushButton(this, QStringLiteral("打开窗口"), "openWindow");
    m_btnOpenWindow->setGeometry(units.ToPixels(295, 99, 50, 14));
    auto* actions = new QGroupBox(QStringLiteral("操作"), this);
    actions->setGeometry(units.ToPixels(271, 85, 229, 37));

    // A screen reader names each field as its label does.
    m_editWindowName->setAccessibleName(QStringLiteral("窗口名称"));
    m_editUrl->setAccessibleName(QStringLiteral("网址"));
    m_editFlag->setAccessibleName(QStringLiteral("开窗口标记"));

    // The frames only draw; they must lie beneath the controls they surround so that
    // those take the clicks. The outer frame goes lowest.
    for (QGroupBox* frame : {actions, info, choice, outer}) {
        frame->lower();
    }
    setFixedSize(units.ToPixels(0, 0, 518, 145).size());

    connect(m_btnCancel, &QPushButton::clicked, this, &CWindowFlagDlg::OnCancel);
    connect(ok, &QPushButton::clicked, this, &CWindowFlagDlg::OnOK);
    connect(m_radioBlock, &QRadioButton::clicked, this, &CWindowFlagDlg::OnRadioBlock);
    connect(m_radioPass, &QRadioButton::clicked, this, &CWindowFlagDlg::OnRadioPass);
    connect(m_btnOpenWindow, &QPushButton::clicked, this, &CWindowFlagDlg::OnOpenWindow);
}

void CWindowFlagDlg::showEvent(QShowEvent* event) {
    QDialog::showEvent(event);
    // A window-system restore is not a new run of the dialog.
    if (!event->spontaneous() && OnInitDialog()) {
        m_btnCancel->setFocus(Qt::TabFocusReason);
    }
}

bool CWindowFlagDlg::OnInitDialog() {
    FillFields();
    const bool pass = m_strFlag == kFlagPass;
    (pass ? m_radioPass : m_radioBlock)->setChecked(true);
    m_btnOpenWindow->setEnabled(pass);
    return true;
}

void CWindowFlagDlg::OnRadioBlock() {
    m_strFlag = kFlagBlock;
    m_btnOpenWindow->setEnabled(false);
    FillFields();
}

void CWindowFlagDlg::OnRadioPass() {
    m_strFlag = kFlagPass;
    m_btnOpenWindow->setEnabled(true);
    FillFields();
}

void CWindowFlagDlg::OnOpenWindow() {
    // Only web addresses are handed to the desktop: a rule's URL is text from the database,
    // and any other scheme could make the desktop launch a local program.
    // An address that is not handed over, or that no browser takes, is shown to the user.
    const QUrl url(m_strUrl, QUrl::TolerantMode);
    const QString scheme = url.scheme().toLower();
    const bool web = scheme == u"http" || scheme == u"https";
    if (!web || !QDesktopServices::openUrl(url)) {
        QPointer<CWindowFlagDlg> self(this);
        ReportUnopenedLink(this, m_strUrl);
        if (!self)
            return; // it went with the main window while the box was open
    }
    OnOK();
}

void CWindowFlagDlg::OnOK() {
    if (m_schedule && !m_schedule->Check(this)) {
        return;
    }
    // The fields are read-only and show the strings whole, so the strings already hold what
    // the user saw; reading the fields back could only lose text.
    done(kResultOk);
}

void CWindowFlagDlg::ShowTimes(const QString& times, const QString& kind) {
    if (!m_schedule) {
        const DialogUnits units(font());
        const QRect below = units.ToPixels(7, 142, 502, 0);
        m_schedule = new CScheduleEdit(this);
        m_schedule->setGeometry(below.x(), below.y(), below.width(),
                                m_schedule->sizeHint().height());
        setFixedSize(width(), m_schedule->geometry().bottom() + below.x());
    }
    m_schedule->SetTimes(times);
    m_schedule->SetKind(kind);
}

QString CWindowFlagDlg::Times() const {
    return m_schedule ? m_schedule->Times() : QString();
}

void CWindowFlagDlg::OnCancel() {
    done(kResultCancel);
}

void CWindowFlagDlg::accept() {
    OnOK();
}

void CWindowFlagDlg::reject() {
    OnCancel();
}

void CWindowFlagDlg::keyPressEvent(QKeyEvent* event) {
    const bool enter = event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter;
    if (enter && (event->modifiers() & ~Qt::KeypadModifier) == Qt::NoModifier) {
        if (auto* button = qobject_cast<QPushButton*>(focusWidget())) {
            if (button->isEnabled()) {
                button->click();
            }
        } else {
            OnOK();
        }
        return;
    }
    QDialog::keyPressEvent(event);
}

void CWindowFlagDlg::FillFields() {
    // Show the beginning of a long name or address, as a freshly filled field does.
    for (auto [edit, value] :
         {std::pair{m_editWindowName, &m_strWindowName}, std::pair{m_editUrl, &m_strUrl},
          std::pair{m_editFlag, &m_strFlag}}) {
        edit->setText(*value);
        edit->setCursorPosition(0);
    }
}

} // namespace winwarden
