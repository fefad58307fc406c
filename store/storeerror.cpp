#include "store/storeerror.h"

namespace winwarden {

StoreError::StoreError(QString code, QString message)
    : std::runtime_error(message.toStdString()), m_code(std::move(code)),
      m_message(std::move(message)) {}

} // namespace winwarden
