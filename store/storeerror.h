#pragma once

#include <QString>
#include <stdexcept>

namespace winwarden {

// Every failure of the rule store: the open, a statement, or a read of the current result.
// Carries the engine's own error code and message so that the user sees what went wrong.
class StoreError final : public std::runtime_error {
public:
    StoreError(QString code, QString message);

    const QString& code() const { return m_code; }
    const QString& message() const { return m_message; }

private:
    QString m_code;
    QString m_message;
};

} // namespace winwarden
