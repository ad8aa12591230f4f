#pragma once

#include "core/Config.h"
#include "ui/pages/PageMigration.h"

#include <QJsonArray>
#include <QJsonObject>
#include <QList>
#include <QPointer>
#include <QString>
#include <QWidget>

#include <optional>

class QDialog;
class QLabel;
class QSplitter;

namespace vn {

class Channel;
class FilterBox;
class Instrument;
class LogView;
class ReceiveArea;
class ScriptResultsPanel;
class SendBar;
class SessionToolbar;
class TerminalView;
class Window;

// One tab page of a window. An empty kind makes a session page: the live view
// of one connection (toolbar, colour log and terminal over the receive
// background, frame-script results, sender). Any other kind makes a control
// page that follows the data source named by its source key; until its
// instrument arrives it keeps its settings object whole so nothing is lost.
//
// The page never owns its channel: the engine may delete it at any time and
// the guarded pointer then reads null. The collaborators (ReceiveArea,
// SessionToolbar, SendBar, ScriptResultsPanel, PageSettings, PageAppearance,
// PacketTemplates, LogExport) each keep one concern of the session page.
class Pane : public QWidget {
    Q_OBJECT
public:
    Pane(Window* window, const QString& kind);
    ~Pane() override;

    Window* window = nullptr;
    QString id;           // 32 hex digits
    QString kind;         // empty for a session page
    QString title;        // tab text when the user renamed the tab
    QString sourceKey;    // control pages: Config::key of the data source
    QPointer<Channel> channel;
    Config config;
    QJsonObject savedPort; // the port-list entry last shown for the page's port
    QString typedPort;     // what the user last typed into the sidebar's port box for this page
    bool terminal = false; // the receive area shows the terminal
    bool terminalPreference = false; // the user's last choice on a non-SSH connection
    QList<int> senderSizes{600, 176};
    QString scriptCode;
    QString scriptTestHex;
    bool scriptEnabled = false;
    QPointer<QDialog> scriptEditor; // the page's single open script editor

    // A stored script the page kept although the channel refused it (it does
    // not compile): the error, and the channel's script as it stood then. The
    // page takes the channel's script again only once that changes.
    struct RefusedScript {
        QString error;
        QString channelSource;
        bool channelEnabled = false;
    };
    std::optional<RefusedScript> refusedScript;

    bool isControl() const { return !kind.isEmpty(); }
    Instrument* instrument() const { return m_instrument; }
    FilterBox* filterBox() const;
    LogView* logView() const;
    TerminalView* terminalView() const;
    ReceiveArea* receiveArea() const { return m_receive; }
    SessionToolbar* toolbar() const { return m_toolbar; }
    SendBar* sendBar() const { return m_sender; }
    ScriptResultsPanel* scriptResults() const { return m_results; }
    QSplitter* outerSplitter() const { return m_outer; }
    QSplitter* receiveSplitter() const { return m_receiveSplitter; }

    // The kind of the live channel, else of the page's own record.
    QString connectionKind() const;
    // The live channel, or null when none is bound or the engine deleted it.
    Channel* liveChannel() const;

    QJsonObject settings() const;
    void restore(const QJsonObject& settings);
    void setChannel(Channel* channel);
    void setTerminal(bool on);
    void tick(bool force);
    void applyAppearance();
    void replay();
    void clearView();
    void exportLog();
    void refreshSource();
    void enableParser();
    void refreshScriptResults();
    void clearScriptResults();
    void resizeScriptResults();
    void clipboardMenu();
    void templateMenu();
    void sendCurrent();

    // Frame scripts (serial session pages only).
    bool supportsScript() const;
    // Throws ScriptError for a page that is not serial or a script that does
    // not compile; the page keeps its former script then.
    void applyScript(const QString& code, bool enabled);
    // The page shows its live channel's script: it has one, and the page holds
    // no refused script of its own or the channel's has changed since.
    bool followsChannelScript() const;
    // Keeps the page's own script text, disabled, after `error` refused it,
    // and shows the error. A bound channel that runs no script carries the
    // text too, so an agent reading the script sees what the user wrote.
    void keepRefusedScript(const QString& error);
    // Opens (or raises) the page's script editor; serial session pages only.
    void openScriptEditor(bool);
    // The file-transfer button: stops repeating and opens the transfer dialog.
    void openFileTransfer();
    // A file transfer begins on the page's channel.
    void transferStarting();

    // "操作失败：" and the message in the window's status bar.
    void showError(const QString& message) const;

    // Changes the program's data font by whole points (Ctrl+wheel, zoom keys).
    void zoom(int steps);

    // The settings a control page was restored with, kept whole.
    QJsonObject controlSettings;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void buildSession();
    void buildControl();
    void encodingChanged();
    QString terminalEncoding() const;
    void sendTerminalBytes(const QByteArray& bytes);

    ReceiveArea* m_receive = nullptr;
    SessionToolbar* m_toolbar = nullptr;
    SendBar* m_sender = nullptr;
    ScriptResultsPanel* m_results = nullptr;
    QSplitter* m_outer = nullptr;
    QSplitter* m_receiveSplitter = nullptr;
    Instrument* m_instrument = nullptr;
};

} // namespace vn
