#pragma once

#include <QString>

class QTableWidget;

namespace winwarden {

// The column widths of a list, kept in the settings under "Columns/<key>", so that a list
// opens with the widths its user last gave it.
void RestoreColumnWidths(QTableWidget& list, const QString& key);
void SaveColumnWidths(const QTableWidget& list, const QString& key);
// Both: restored now, and saved whenever a column is resized.
void RememberColumnWidths(QTableWidget& list, const QString& key);

} // namespace winwarden
