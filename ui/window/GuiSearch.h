#pragma once

#include <QJsonArray>
#include <QJsonObject>
#include <QList>
#include <QString>

class QTreeWidget;

namespace vn {

class Channel;
class FilterBox;
class Instrument;
class LogView;
class Pane;
class SerialMonitorDialog;
class Window;

// One GUI view an agent may search: what the user sees of a channel in a page's
// log, a structured-record instrument or a serial monitor window. The pointers
// do not own; a view is rebuilt for every call and valid only during it.
struct SearchView {
    QString id;
    QString kind;  // "log", the instrument's kind, or "serial-monitor"
    QString title;
    FilterBox* filterBox = nullptr;
    LogView* textView = nullptr;          // rows are its visible lines, a long line's rows joined
    QTreeWidget* records = nullptr;       // rows are its visible top-level records
    Instrument* instrument = nullptr;      // the record instrument of a control page
    SerialMonitorDialog* monitor = nullptr;
    Pane* page = nullptr;
};

// Every searchable view of the channel in every window of the root's list, in
// window and page order.
QList<SearchView> searchViews(Window* root, Channel* channel);

// The rows the user sees in the view, in display order.
QJsonArray visibleRows(const SearchView& view);

// The "list_search_views" and "search_logs" tools over the GUI; "action" in the
// arguments names which. Fails (through `fail`) with the agent's message.
QJsonObject searchGui(Window* root, Channel* channel, const QJsonObject& arguments);

} // namespace vn
