#include "monitor/columnwidths.h"

#include <QHeaderView>
#include <QSettings>
#include <QTableWidget>

namespace winwarden {

namespace {

QString SettingsKey(const QString& key) {
    return QStringLiteral("Columns/") + key;
}

} // namespace

void RestoreColumnWidths(QTableWidget& list, const QString& key) {
    const QList<QVariant> widths = QSettings().value(SettingsKey(key)).toList();
    for (int column = 0; column < widths.size() && column < list.columnCount(); ++column) {
        if (const int width = widths[column].toInt(); width > 0) {
            list.setColumnWidth(column, width);
        }
    }
}

void SaveColumnWidths(const QTableWidget& list, const QString& key) {
    QList<QVariant> widths;
    for (int column = 0; column < list.columnCount(); ++column) {
        widths << list.columnWidth(column);
    }
    QSettings().setValue(SettingsKey(key), widths);
}

void RememberColumnWidths(QTableWidget& list, const QString& key) {
    RestoreColumnWidths(list, key);
    QObject::connect(list.horizontalHeader(), &QHeaderView::sectionResized, &list,
                     [&list, key] { SaveColumnWidths(list, key); });
}

} // namespace winwarden
