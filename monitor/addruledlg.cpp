#include "monitor/addruledlg.h"

#include "match/normalize.h"
#include "monitor/scheduleedit.h"
#include "res/texts.h"
#include "store/flag.h"

#include <QButtonGroup>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>

namespace winwarden {

CAddRuleDlg::CAddRuleDlg(QWidget* parent) : QDialog(parent) {
    setObjectName(QStringLiteral("CAddRuleDlg"));
    setWindowTitle(text::kAddRuleCaption);

    // Made in the order Tab takes them: the kind, the text, the flag, the times, the buttons.
    const auto kindButton = [this](const QString& kind, const char* name) {
        auto* button = new QRadioButton(kind, this);
        button->setObjectName(QString::fromLatin1(name));
        connect(button, &QRadioButton::toggled, this, &CAddRuleDlg::OnKindOrTextChanged);
        return button;
    };
    m_radioTitle = kindButton(kKindTitle, "kindTitle");
    m_radioTitle->setChecked(true);
    m_radioSite = kindButton(kKindSite, "kindSite");
    m_radioWords = kindButton(kKindTitleWord, "kindWords");
    m_radioAllWeb = kindButton(kKindAllWeb, "kindAllWeb");
    auto* kindGroup = new QButtonGroup(this);
    auto* kinds = new QHBoxLayout;
    for (QRadioButton* button : {m_radioTitle, m_radioSite, m_radioWords, m_radioAllWeb}) {
        kindGroup->addButton(button);
        kinds->addWidget(button);
    }
    kinds->addStretch();
    m_editName = new QLineEdit(this);
    m_editName->setObjectName(QStringLiteral("ruleName"));
    m_editName->setMinimumWidth(420);
    m_editUrl = new QLineEdit(this);
    m_editUrl->setObjectName(QStringLiteral("ruleUrl"));
    m_editUrl->setPlaceholderText(QStringLiteral("https://"));
    // Rules are mostly added ahead to keep a page away.
    m_radioBlock = new QRadioButton(kFlagBlock, this);
    m_radioBlock->setObjectName(QStringLiteral("radioBlock"));
    m_radioBlock->setChecked(true);
    m_radioPass = new QRadioButton(kFlagPass, this);
    m_radioPass->setObjectName(QStringLiteral("radioPass"));
    // Each row of choices is a group of its own: one flag, and one kind.
    auto* flagGroup = new QButtonGroup(this);
    flagGroup->addButton(m_radioBlock);
    flagGroup->addButton(m_radioPass);
    auto* flags = new QHBoxLayout;
    flags->addWidget(m_radioBlock);
    flags->addWidget(m_radioPass);
    flags->addStretch();

    m_hostTaken = new QLabel(this);
    m_hostTaken->setObjectName(QStringLiteral("hostTaken"));
    m_hostTaken->setTextFormat(Qt::PlainText);
    connect(m_editName, &QLineEdit::textChanged, this, &CAddRuleDlg::OnKindOrTextChanged);
    m_schedule = new CScheduleEdit(this);
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    buttons->button(QDialogButtonBox::Ok)->setText(text::kButtonOk);
    buttons->button(QDialogButtonBox::Ok)->setObjectName(QStringLiteral("ok"));
    buttons->button(QDialogButtonBox::Cancel)->setText(text::kButtonCancel);
    buttons->button(QDialogButtonBox::Cancel)->setObjectName(QStringLiteral("cancel"));
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);

    m_form = new QFormLayout(this);
    m_form->addRow(text::kAddRuleKindLabel, kinds);
    m_form->addRow(text::kAddRuleNameLabel, m_editName);
    m_form->addRow(QString(), m_hostTaken);
    m_form->addRow(text::kAddRuleUrlLabel, m_editUrl);
    m_form->addRow(text::kAddRuleFlagLabel, flags);
    m_form->addRow(m_schedule);
    m_form->addRow(buttons);
    m_form->setSizeConstraint(QLayout::SetFixedSize);
    OnKindOrTextChanged();
    m_editName->setFocus(); // most rules are typed at once; the kind is a Shift+Tab away
}

// The text's label follows the kind; a site's shows the host the rule will hold, so that a
// pasted address is seen to become its host. Only a title rule has an address of its own.
void CAddRuleDlg::OnKindOrTextChanged() {
    if (!m_form) {
        return; // still being made
    }
    const QString kind = Kind();
    if (auto* label = qobject_cast<QLabel*>(m_form->labelForField(m_editName))) {
        label->setText(kind == kKindSite        ? text::kAddRuleSiteLabel
                       : kind == kKindTitleWord ? text::kAddRuleWordsLabel
                       : kind == kKindAllWeb    ? text::kAddRuleAllWebLabel
                                                : text::kAddRuleNameLabel);
    }
    // A rule for every page is named only for the lists; the name it gets untyped is shown.
    m_editName->setPlaceholderText(kind == kKindAllWeb ? text::kAllWebDefaultName : QString());
    m_editUrl->setEnabled(kind == kKindTitle);
    m_schedule->setEnabled(kind != kKindTitle);
    m_schedule->SetKind(kind);
    QString taken;
    if (kind == kKindSite && !m_editName->text().trimmed().isEmpty()) {
        const std::optional<QString> host = CanonicalHost(m_editName->text());
        taken = host ? text::kAddRuleHostTaken.arg(DisplayHost(*host)) : text::kAddRuleNoHost;
    }
    m_hostTaken->setText(taken);
    m_hostTaken->setVisible(!taken.isEmpty());
}

QString CAddRuleDlg::Kind() const {
    return m_radioSite->isChecked()     ? kKindSite
           : m_radioWords->isChecked()  ? kKindTitleWord
           : m_radioAllWeb->isChecked() ? kKindAllWeb
                                        : kKindTitle;
}

QString CAddRuleDlg::WindowName() const {
    if (Kind() == kKindAllWeb && m_editName->text().trimmed().isEmpty()) {
        return text::kAllWebDefaultName;
    }
    return m_editName->text();
}

QString CAddRuleDlg::Url() const {
    return m_editUrl->text().trimmed();
}

QString CAddRuleDlg::Times() const {
    return Kind() == kKindTitle ? QString() : m_schedule->Times();
}

void CAddRuleDlg::accept() {
    if (Kind() != kKindTitle && !m_schedule->Check(this)) {
        return;
    }
    QDialog::accept();
}

QString CAddRuleDlg::Flag() const {
    return m_radioPass->isChecked() ? kFlagPass : kFlagBlock;
}

} // namespace winwarden
