#pragma once

#include <QDialog>
#include <QStringList>

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

    // The AI page with its call log in front.
    void showCallLog();

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
    QWidget* historyScroll = nullptr;
    ReleaseHistoryPanel* history = nullptr;
    bool historyLoaded = false; // the roll-back page asks for releases once per dialog
    bool restyling = false;
};

} // namespace vn
