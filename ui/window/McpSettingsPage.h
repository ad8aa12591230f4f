#pragma once

#include <QMap>
#include <QWidget>

class QCheckBox;
class QLabel;
class QLineEdit;
class QSpinBox;
class QTreeWidget;

namespace vn {

class AgentPanel;
class DetachableTabs;
class McpServer;
class Window;
struct Theme;

// The "AI / MCP" page of the settings dialog: the listening port and address,
// the AI-control switch, the per-protocol access switches, and three tabs: the
// connections overview, the agents page and the call log. The two tables are
// filled by the window's tick; this page only builds and names them.
class McpSettingsPage : public QWidget {
    Q_OBJECT
public:
    explicit McpSettingsPage(Window* window, QWidget* parent = nullptr);

    DetachableTabs* tabs() const { return mcpPages; }
    void setTheme(const Theme& theme);

private:
    QWidget* buildPortRows();
    QWidget* buildAccessRow();
    QWidget* buildOverview();
    QWidget* buildCallLog();
    void applyPort(int port);
    void showAccess();

    Window* window;
    McpServer* server;
    QSpinBox* port = nullptr;
    QLineEdit* address = nullptr;
    QLabel* result = nullptr;
    QMap<QString, QCheckBox*> access; // protocol -> its box
    DetachableTabs* mcpPages = nullptr;
    AgentPanel* agents = nullptr;
};

} // namespace vn
