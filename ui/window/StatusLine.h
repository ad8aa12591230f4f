#pragma once

#include <QObject>

class QLabel;
class QProgressBar;
class QPushButton;
class QStatusBar;

namespace vn {

class UpdateService;

// The window's status bar: the state text on the left; a note, the MCP label,
// the update progress and button (root window only) and the running version on
// the right. It also turns the update service's signals into button states.
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
    QLabel* message = nullptr; // "尚未连接" and the current page's state
    QLabel* ai = nullptr;      // the latest AI call, shown from the first one on
    QLabel* mcp = nullptr;
    QProgressBar* updateProgress = nullptr; // root only
    QPushButton* updateButton = nullptr;    // root only
    QLabel* version = nullptr;

Q_SIGNALS:
    void updateRequested();
};

} // namespace vn
