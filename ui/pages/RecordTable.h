#pragma once

#include <QJsonObject>
#include <QTreeWidget>

namespace vn {

struct SearchFilter;

// The structured-record table of a "json" or "xml" page. Each row carries its
// whole record in column 0 under Qt::UserRole, so the filter, the detail pane
// and the JSON assistant read the record back from the row: the table is the
// only store of the records this page shows.
class RecordTable : public QTreeWidget {
    Q_OBJECT
public:
    static constexpr int MaxRows = 200;
    static constexpr int MaxText = 200;

    explicit RecordTable(QWidget* parent = nullptr);

    // Appends one row at the end, hidden unless the filter accepts the
    // record's full text; a visible new row becomes current, so the detail
    // follows the newest visible record. The oldest rows go past MaxRows.
    void append(const QJsonObject& record, const QString& source, const SearchFilter& filter);
    // Hides every row the filter refuses; a hidden or missing current row
    // gives way to the first visible one (or none).
    void applyFilter(const SearchFilter& filter);

    static QJsonObject recordOf(const QTreeWidgetItem* item);
    // The current row's record; empty when no row is current.
    QJsonObject currentRecord() const;
};

} // namespace vn
