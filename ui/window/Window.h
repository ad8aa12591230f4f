#pragma once

#include "core/Config.h"
#include "ui/kit/BackgroundImage.h"
#include "ui/kit/Theme.h"
#include "ui/window/TickMeter.h"

#include <QElapsedTimer>
#include <QFont>
#include <QImage>
#include <QJsonArray>
#include <QJsonObject>
#include <QList>
#include <QMainWindow>
#include <QPointer>
#include <QString>

#include <functional>
#include <memory>

class QDialog;
class QFrame;
class QLabel;
class QMenu;
class QProgressBar;
class QPushButton;
class QScrollArea;
class QStackedWidget;
class QTimer;

namespace vn {

struct AgentEnvironment;
class BackgroundSurface;
class Channel;
class ConnectionBar;
class Engine;
class IconButton;
class McpServer;
class Pane;
class ParameterGrip;
class StatusLed;
class UpdateService;

// Every top-level window of the program. The one start-up creates (root null)
// is the root window: it owns the workspace file, the update service and the
// list of all windows. Torn-off windows are its Qt children and delete
// themselves on close. The collaborators named in the comments below each keep
// one concern in a file of its own.
class Window : public QMainWindow {
    Q_OBJECT
public:
    Window(Engine* engine, McpServer* server, const QString& settingsPath, Window* root);
    ~Window() override;

    // --- State read by pages, panels, dialogs and the MCP bridge -------------
    std::function<AgentEnvironment()> agentEnvironment;
    Window* root = nullptr;
    QList<QPointer<Window>> windows; // root only: every window, the root first
    Engine* engine = nullptr;
    McpServer* server = nullptr;
    Theme theme;
    QFont dataFont;
    BackgroundSpec windowBackground;
    BackgroundSpec receiveBackground;
    QImage windowBackgroundImage;
    QImage receiveBackgroundImage;
    QString settingsPath;
    QJsonObject settings;  // the workspace file as this window read it
    QJsonObject views;     // Config::key -> session page settings
    QJsonArray templates;  // packet templates
    bool busy = false;     // form being filled or connect action running
    bool closing = false;  // closing or docking back; stops synchronisation
    bool savingHeld = false; // root: an unreadable workspace file stayed in place; never write over it
    int parameterWidth = 246;
    bool parameterVisible = true;
    std::function<QJsonArray()> portProvider;
    QList<Pane*> pages;    // tab order
    Pane* current = nullptr;
    QPointer<Pane> sessionPane;
    QJsonObject lastForm;
    QJsonArray lastPorts;
    QString sshFingerprint;
    QJsonObject lastActivity;

    // The root window: root when set, else this window; never null.
    Window* rootWindow();
    QDialog* settingsDialog() const;

    // --- Workspace file (WindowWorkspace.cpp) ---------------------------------
    void saveSettings();

    // --- Theme (WindowTheme.cpp) ----------------------------------------------
    void applyLocalTheme(bool dark);
    void applyTheme(bool dark);
    QString workspaceStyle() const;
    void setDataFont(const QFont& font);

    // --- Sidebar and connection form ------------------------------------------
    Config form() const;
    void loadForm(const Config& config);
    void protocolChanged();
    void applyBaud();
    void refreshPorts();
    void refreshSshProfiles();
    void syncParameterPane(bool save);
    void resizeParameters(int width);
    void arrangeParameters();
    void connectionAction();
    void syncConnections();
    void updateStatus();
    void error(const QString& message);
    // The sidebar page's live serial channel still claims this port (connected
    // or waiting for its device, not closed by the user), so the port box keeps
    // showing it while the device is gone.
    bool holdsSerialPort(const QString& port) const;
    // A device path the port box keeps showing though no listed port has that
    // name: its node exists, or the user typed it for the sidebar page.
    bool keepsDevicePath(const QString& port) const;

    // --- Pages and tabs -------------------------------------------------------
    Pane* newConnection();
    Pane* newInstrument(const QString& kind, Channel* channel, bool select, const QString& sourceKey);
    void restoreInstruments(const QJsonObject& page, const QString& key);
    void attachPane(Pane* page);
    void activate(int index);
    void showPane(Pane* page);
    Pane* findPane(Channel* channel);
    void closeTab(int index);
    // Once the page is gone, and whenever its terminal drops a long history,
    // the heap's free memory goes back to the system (MemoryReturn).
    void returnMemoryWhenReleased(Pane* page);
    void tabMenu(const QPoint& position);
    void beginTabRename(int index);
    void adjustTabs();
    QMenu* newPageMenu();
    void transferPane(Pane* page, Window* target);
    Window* detachConnection(int index, const QPoint& globalPos, bool systemMove);
    // A torn-off window whose move ended over another window's tab bar moves
    // its pages there and closes; the root window never docks away.
    void dockAfterMove(const QPoint& globalPos);
    // Asks for a new connection name ("重命名连接") and gives it to the channel.
    void renameConnection(Channel* channel);

    // --- Dialogs, agents and the MCP bridge -----------------------------------
    void openSettings();
    void openAiAudit();
    void checkAgentEndpoints();
    void installMcpUi();
    void showAiActivity(const QJsonObject& record);
    void showAuditDetail(const QJsonObject& record);
    void installUpdate(const QString& path);
    QWidget* backgroundSettingsPanel();
    void applyBackgrounds();

    // Widgets other collaborators reach.
    ConnectionBar* tabs() const;
    QStackedWidget* stack() const;
    QScrollArea* parameterScroll() const;
    StatusLed* connectionLed() const;
    UpdateService* updateService() const;

protected:
    void closeEvent(QCloseEvent* event) override;
    bool event(QEvent* event) override;

private:
    // Construction steps (Window.cpp).
    void buildLayout();
    void buildSidebar();
    void connectLayout();
    void restoreWorkspace(Pane* first, const QJsonObject& appearance);
    void startTimers();
    void tick();

    // Sidebar reactions (WindowConnections.cpp, WindowSsh.cpp).
    void connectSidebar();
    void renameFromForm();
    void scriptToggled(bool on);
    void clearSshCacheOfForm();
    void sshHostEdited(const QString& text);

    // AI activity notices (WindowActivity.cpp) and the update dialog (WindowSettings.cpp).
    void refreshAudit();
    void positionAiToast();
    void openUpdateDialog();

    struct Widgets; // pointers to the window's child widgets (owned by Qt's parent tree)
    std::unique_ptr<Widgets> ui;
    TickMeter tickMeter; // the tick's durations, logged when asked for
};

// Free helpers the window's collaborators share.
QString instrumentIconName(const QString& kind);
QString serialNumber(const QJsonObject& port);
QString usbIdentity(const QJsonObject& port);
Pane* tabPane(ConnectionBar* bar, int index);
int paneIndex(ConnectionBar* bar, Pane* page);
// Releases the page's repeat-send toggle, which ends its repeated sending.
void stopRepeatSend(Pane* page);

} // namespace vn
