#pragma once

#include <QString>
#include <QStringList>
#include <optional>

namespace winwarden {

// winwarden-db history|report: the visit record out of the database. `args` are the words
// after the command's name. The line to print on success; throws StoreError on a failure of
// the database or the file; nothing, with `usage` set, when the words are not understood.
std::optional<QString> RunVisitCommand(const QString& command, const QStringList& args,
                                       QString* shownDatabase);

// The usage of both commands.
QString VisitCommandsUsage();

} // namespace winwarden
