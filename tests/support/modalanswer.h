#pragma once

#include <QList>
#include <QPointer>
#include <QTimer>
#include <QWidget>
#include <functional>

namespace winwarden::test {

// Answers the modal windows a test is about to open, one step per window, in order.
// It polls QApplication::activeModalWidget() from a timer, so each step runs inside the
// modal's own event loop. A modal left unanswered (steps used up, or a step that did not
// close it) is closed after a few seconds, so that a broken answer cannot hang the test.
class ModalAnswer final {
public:
    using Step = std::function<void(QWidget* modal)>;

    explicit ModalAnswer(QList<Step> steps);
    ~ModalAnswer();
    ModalAnswer(const ModalAnswer&) = delete;
    ModalAnswer& operator=(const ModalAnswer&) = delete;

    // How many steps have run; each ran on a different modal window.
    int answered() const { return m_answered; }
    // Modal windows that had to be closed because no step closed them.
    int forced() const { return m_forced; }

private:
    void Poll();

    QList<Step> m_steps;
    QTimer m_poll;
    QPointer<QWidget> m_last;
    int m_answered = 0;
    int m_forced = 0;
    int m_idlePolls = 0;
};

// The child of `modal` with this objectName and type, or null.
template <typename T> T* Child(QWidget* modal, const char* name) {
    return modal ? modal->findChild<T*>(QString::fromLatin1(name)) : nullptr;
}

} // namespace winwarden::test
