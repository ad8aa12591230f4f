#pragma once

#include <QString>

class QTreeWidget;

namespace vn {

class Engine;
class McpServer;

// The two live tables of the settings dialog's AI page, refilled by the
// window's tick while they are on screen.

// One row per channel of the engine, in the engine's order: name, kind,
// state, id and the byte totals.
void fillConnectionsOverview(QTreeWidget* tree, const Engine* engine);

// One row per recorded agent call. Does nothing while the server's call
// counter has not moved since the last fill; keeps the current row and the
// reader's place, or follows new rows when the view was at the end.
void fillCallLog(QTreeWidget* tree, const McpServer* server);

// A tool tip that shows `text` literally, even when it looks like markup:
// texts that come from agents are never rendered as rich text.
QString plainToolTip(const QString& text);

} // namespace vn
