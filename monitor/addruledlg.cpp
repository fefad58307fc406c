#include "monitor/addruledlg.h"

#include "res/texts.h"
#include "store/flag.h"

#include <QDialogButtonBox>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>

namespace winwarden {

CAddRuleDlg::CAddRuleDlg(QWidget* parent) : QDialog(parent) {
    setObjectName(QStringLiteral("CAddRuleDlg"));
    setWindowTitle(text::kAddRuleCaption);

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
    auto* flags = new QHBoxLayout;
    flags->addWidget(m_radioBlock);
    flags->addWidget(m_radioPass);
    flags->addStretch();

    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    buttons->button(QDialogButtonBox::Ok)->setText(text::kButtonOk);
    buttons->button(QDialogButtonBox::Ok)->setObjectName(QStringLiteral("ok"));
    buttons->button(QDialogButtonBox::Cancel)->setText(text::kButtonCancel);
    buttons->button(QDialogButtonBox::Cancel)->setObjectName(QStringLiteral("cancel"));
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);

    auto* form = new QFormLayout(this);
    form->addRow(text::kAddRuleNameLabel, m_editName);
    form->addRow(text::kAddRuleUrlLabel, m_editUrl);
    form->addRow(text::kAddRuleFlagLabel, flags);
    form->addRow(buttons);
    form->setSizeConstraint(QLayout::SetFixedSize);
}

QString CAddRuleDlg::WindowName() const {
    return m_editName->text();
}

QString CAddRuleDlg::Url() const {
    return m_editUrl->text().trimmed();
}

QString CAddRuleDlg::Flag() const {
    return m_radioPass->isChecked() ? kFlagPass : kFlagBlock;
}

} // namespace winwarden
