#pragma once

#include <QDialog>
#include <QPointer>
#include <QString>

class QLabel;
class QProgressBar;
class QPushButton;
class QTextBrowser;

namespace vn {

class UpdateService;

// The window that offers the newer release the main window's update service found:
// version, size, date and notes, the download with its progress, and the hand-over
// of the verified installer. It keeps no release data of its own and redraws itself
// from the service on every change; closing it only hides it, so a download goes on.
class UpdateDialog : public QDialog {
    Q_OBJECT
public:
    UpdateDialog(UpdateService* service, QWidget* parent);

    void refresh();
    void reject() override;

Q_SIGNALS:
    // The verified installer, checked again just now; the main window starts it.
    void installRequested(const QString& path);

private:
    void act();

    QPointer<UpdateService> service;
    QLabel* heading = nullptr;
    QLabel* versionLine = nullptr;
    QTextBrowser* notes = nullptr;
    QProgressBar* progress = nullptr;
    QLabel* statusLine = nullptr;
    QPushButton* action = nullptr;
    QPushButton* cancel = nullptr;
    QPushButton* background = nullptr;
    // The last failure, shown in place of the idle text until the user acts again.
    QString failure;
};

} // namespace vn
