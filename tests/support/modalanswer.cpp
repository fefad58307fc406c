#include "tests/support/modalanswer.h"

#include <QApplication>
#include <QDialog>

namespace winwarden::test {

namespace {
constexpr int kPollMs = 5;
constexpr int kGiveUpPolls = 2000; // about ten seconds on one modal
} // namespace

ModalAnswer::ModalAnswer(QList<Step> steps) : m_steps(std::move(steps)) {
    m_poll.setInterval(kPollMs);
    QObject::connect(&m_poll, &QTimer::timeout, [this] { Poll(); });
    m_poll.start();
}

ModalAnswer::~ModalAnswer() = default;

void ModalAnswer::Poll() {
    QWidget* modal = QApplication::activeModalWidget();
    if (!modal || !modal->isVisible()) {
        m_idlePolls = 0;
        return;
    }
    if (modal != m_last && !m_steps.isEmpty()) {
        m_last = modal;
        m_idlePolls = 0;
        const Step step = m_steps.takeFirst();
        ++m_answered;
        step(modal);
        return;
    }
    if (++m_idlePolls < kGiveUpPolls)
        return;
    m_idlePolls = 0;
    ++m_forced;
    if (auto* dialog = qobject_cast<QDialog*>(modal))
        dialog->reject();
    else
        modal->close();
}

} // namespace winwarden::test
