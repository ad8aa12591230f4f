#pragma once

#include <QDialog>
#include <QStringList>

class QTreeWidget;

namespace vn {

// Preview runs (an argument exactly "--screenshot") and head-less ones must
// not reach out to the release host from the roll-back page.
bool mayFetchReleases(const QString& platform, const QStringList& arguments);

class AppearancePage;
class DetachableTabs;
class McpSettingsPage;
class ReleaseHistoryPanel;
class Window;

// One window's settings dialog: appearance, AI and MCP, about and version
// roll-back. Every control acts at once, so there is nothing to cancel; the
// dialog is kept hidden after closing and shown again on the next opening.
// It takes the window's palette whenever the window's changes.
class SettingsDialog : public QDialog {
    Q_OBJECT
public:
    explicit SettingsDialog(Window* owner);

    // The AI page with its call log in front, wherever either is torn off to.
    void showCallLog();

    // The parts the window keeps up to date. They are reached through the
    // dialog, not searched in it, since a torn-off page leaves the dialog.
    AppearancePage* appearancePage() const { return appearance; }
    QTreeWidget* connectionsOverview() const { return overview; }
    QTreeWidget* callLog() const { return calls; }

protected:
    void changeEvent(QEvent* event) override;

private:
    void pageChanged(int index);
    void storeGeometry();
    void restyle();

    Window* window;
    DetachableTabs* pages = nullptr;
    AppearancePage* appearance = nullptr;
    McpSettingsPage* mcp = nullptr;
    QWidget* mcpScroll = nullptr;
    QTreeWidget* overview = nullptr;
    QTreeWidget* calls = nullptr;
    QWidget* historyScroll = nullptr;
    ReleaseHistoryPanel* history = nullptr;
    bool historyLoaded = false; // the roll-back page asks for releases once per dialog
    bool restyling = false;
};

} // namespace vn
