#pragma once

#include <QDialog>
#include <QElapsedTimer>
#include <QPointer>
#include <QString>

class QFormLayout;
class QLabel;
class QLineEdit;
class QProgressBar;
class QPushButton;

namespace vn {

class Channel;
class Combo;
class SerialTransfer;

// Sends a file to the device on a serial channel, or receives one from it, as
// raw bytes or by XMODEM-CRC, and shows the progress. While a transfer runs the
// dialog owns the channel: other senders are refused and received bytes go to
// the transfer only.
class FileTransferDialog : public QDialog {
    Q_OBJECT
public:
    // Around a bare transfer engine, without a channel.
    FileTransferDialog(SerialTransfer* transfer, QWidget* parent);
    // Around a new engine wired to the channel.
    FileTransferDialog(Channel* channel, QWidget* parent);
    ~FileTransferDialog() override;

    // Starts a transfer from the form; false when refused (see the status line).
    bool begin();
    void refresh();
    // Gives the channel back to its other senders.
    void releaseChannel();
    void reject() override;

    SerialTransfer* engine() const { return transfer; }

Q_SIGNALS:
    // A transfer is about to start: the checks passed and the channel is claimed.
    void starting();

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    void wireChannel();
    void choosePath();
    void closeAction();

    SerialTransfer* transfer = nullptr;
    Combo* direction = nullptr;
    Combo* protocol = nullptr;
    QLineEdit* path = nullptr;
    QLineEdit* sizeField = nullptr;
    QProgressBar* progress = nullptr;
    QLabel* bytes = nullptr;
    QLabel* status = nullptr;
    QPushButton* start = nullptr;
    QPushButton* stopAndSave = nullptr;
    QPushButton* closeButton = nullptr;
    QPointer<Channel> channel;
    QElapsedTimer clock;
    bool succeeded = false;
    QPushButton* browse = nullptr;
    QLabel* hint = nullptr;
    QFormLayout* form = nullptr;
};

// A byte count as people read it: "未知大小" below 0, then B, KiB or MiB.
QString transferAmount(qint64 n);

// Opens the transfer dialog of a serial channel, window-modal over `parent`
// and deleted when closed.
FileTransferDialog* showFileTransfer(Channel* channel, QWidget* parent);

} // namespace vn
