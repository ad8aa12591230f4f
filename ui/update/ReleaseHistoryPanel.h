#pragma once

#include <QWidget>

class QLabel;
class QNetworkAccessManager;
class QProgressBar;
class QPushButton;
class QTextBrowser;

namespace vn {

class Combo;
class UpdateService;

// The roll-back page of the settings dialog: the three newest published releases
// (from the built-in list until a refresh brings the current one), the notes of the
// chosen one, and the download and hand-over of its verified installer. It has an
// update service of its own, separate from the main window's.
class ReleaseHistoryPanel : public QWidget {
    Q_OBJECT
public:
    // Either may be null; the manager goes to the panel's own update service.
    explicit ReleaseHistoryPanel(QWidget* parent = nullptr, QNetworkAccessManager* manager = nullptr);

    void refreshHistory();

Q_SIGNALS:
    // The chosen release's verified installer, checked again just now.
    void installRequested(const QString& path);

private:
    void render();
    void updateChoices();
    void act();
    void setStatus(const QString& text);

    UpdateService* service = nullptr;
    Combo* versions = nullptr;
    QLabel* details = nullptr;
    QTextBrowser* notes = nullptr;
    QLabel* status = nullptr;
    QProgressBar* progress = nullptr;
    QPushButton* refreshButton = nullptr;
    QPushButton* downloadButton = nullptr;
    QPushButton* cancelButton = nullptr;
};

} // namespace vn
