#pragma once

#include <QObject>
#include <QPointer>
#include <QUrl>
#include <QWidget>

namespace winwarden {

// Opens web addresses with the desktop's opener, xdg-open, and tells the user when no browser
// took the address. The desktop services alone only know that the opener started: as root,
// for one, every browser refuses to run and the opener gives up a moment later. Installed as
// the handler of http and https while it lives.
class LinkOpener final : public QObject {
    Q_OBJECT
public:
    // Failures are shown in a box owned by `owner`.
    explicit LinkOpener(QWidget* owner);
    ~LinkOpener() override;

public Q_SLOTS:
    // Starts the opener and returns at once; a failure is reported when the opener ends.
    void Open(const QUrl& url);

private:
    QPointer<QWidget> m_owner;
};

} // namespace winwarden
