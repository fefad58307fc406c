#pragma once

#include <QString>

namespace winwarden {

// One line for whoever reads what the program says: standard error, which a terminal shows and
// journald records for the guard's unit. Each program speaks with one voice: every line begins
// with the program's own name ("winwarden-guard: ", "winwarden: "), whichever part of the code
// says it, and is written in the program's language, in the words its window uses for the same
// thing.
void LogLine(const QString& line);

} // namespace winwarden
