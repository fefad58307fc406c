#pragma once

#include <QPointer>
#include <QTimer>
#include <QWidget>

namespace winwarden::test {

// Answers the modals a test is about to open, one step per modal in order, from inside each
// modal's own loop. A modal no step closes is closed after about ten seconds.
class ModalAnswer final {
public:
    using Step = std::function<void(QWidget* modal)>;
    explicit ModalAnswer(QList<Step> steps);

    int answered() const { return m_answered; } // steps run, each on its own modal

private:
    QList<Step> m_steps;
    QTimer m_poll;
    QPointer<QWidget> m_last;
    int m_answered = 0, m_idlePolls = 0;
};

// A step that notes what the modal says (a box's text, another dialog's objectName) in `seen`
// and closes it without accepting anything.
ModalAnswer::Step NoteAndReject(QStringList& seen);

// The child of `modal` with this objectName and type, or null.
template <typename T> T* Child(QWidget* modal, const char* name) {
    return modal ? modal->findChild<T*>(QString::fromLatin1(name)) : nullptr;
}

} // namespace winwarden::test
