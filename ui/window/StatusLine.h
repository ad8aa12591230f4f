#pragma once

#include <QHash>
#include <QObject>

class QLabel;
class QProgressBar;
class QPushButton;
class QStatusBar;
class QWidget;

namespace vn {

class StatusText;
class UpdateService;

// The window's status bar: the state text on the left; a note, the MCP label,
// the update progress and button (root window only) and the running version on
// the right. It also turns the update service's signals into button states.
//
// A narrow bar keeps its parts apart: the left text sheds its less important
// fields first and then elides; on the right the version goes first, then the
// latest AI call, then the MCP label, each only when the bar cannot hold it
// beside the left text's main field. The update button and its progress are
// the user's next step and always stay.
class StatusLine : public QObject {
    Q_OBJECT
public:
    StatusLine(QStatusBar* bar, bool withUpdates);

    // Button and progress bar follow the service; `opened` fires on a click.
    void follow(UpdateService* service);

    void showUpdate(const QString& version);
    void showProgress(qint64 received, qint64 total);
    void showFailure(const QString& message);
    void showReady(const QString& path);

    QStatusBar* bar = nullptr;
    StatusText* message = nullptr; // "尚未连接" and the current page's state
    QLabel* ai = nullptr;      // the latest AI call, shown from the first one on
    QLabel* mcp = nullptr;
    QProgressBar* updateProgress = nullptr; // root only
    QPushButton* updateButton = nullptr;    // root only
    QLabel* version = nullptr;

    // Whether the AI or MCP label is to be shown; it shows when it also fits.
    void want(QWidget* part, bool shown);
    bool wanted(QWidget* part) const { return m_wanted.value(part, true); }
    // Shows and hides the parts that may go, by the room the bar has now.
    void fit();

Q_SIGNALS:
    void updateRequested();

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    QHash<QWidget*, bool> m_wanted;
    bool m_fitting = false;
};

} // namespace vn
