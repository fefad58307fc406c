#include "tests/support/modalanswer.h"

#include <QApplication>
#include <QDialog>
#include <QMessageBox>

namespace winwarden::test {

ModalAnswer::ModalAnswer(QList<Step> steps) : m_steps(std::move(steps)) {
    QObject::connect(&m_poll, &QTimer::timeout, [this] {
        QWidget* modal = QApplication::activeModalWidget();
        if (!modal || !modal->isVisible()) {
            m_idlePolls = 0;
        } else if (modal != m_last && !m_steps.isEmpty()) {
            m_last = modal;
            ++m_answered;
            m_steps.takeFirst()(modal);
        } else if (++m_idlePolls >= 2000) {
            m_idlePolls = 0;
            if (auto* dialog = qobject_cast<QDialog*>(modal))
                dialog->reject(); // a box without an escape button ignores close()
            else
                modal->close();
        }
    });
    m_poll.start(5);
}

ModalAnswer::Step NoteAndReject(QStringList& seen) {
    return [&seen](QWidget* modal) {
        auto* box = qobject_cast<QMessageBox*>(modal);
        seen << (box ? box->text() : modal->objectName());
        QMetaObject::invokeMethod(modal, "reject");
    };
}

} // namespace winwarden::test
