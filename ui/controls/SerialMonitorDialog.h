#pragma once

#include "ui/kit/Theme.h"

#include <QDialog>
#include <QFont>
#include <QJsonObject>
#include <QPointer>
#include <QTimer>

class QComboBox;
class QLabel;
class QLineEdit;
class QPushButton;

namespace vn {

class Channel;
class FilterBox;
class IconButton;
class LogView;

// The small send/receive window of a control panel: the traffic of the
// panel's serial channel as a colour log read from the journal with its own
// cursor, a line to send a text command with a chosen line ending and
// encoding, and its options and geometry saved in the panel JSON.
class SerialMonitorDialog : public QDialog {
    Q_OBJECT
public:
    static constexpr int kPollMs = 40;
    static constexpr int kPollLimit = 500;
    static constexpr int kReplayEvents = 200;
    static constexpr qint64 kReplayBytes = 131071;

    explicit SerialMonitorDialog(QWidget* parent = nullptr);
    ~SerialMonitorDialog() override;

    void setChannel(Channel* channel);
    void refresh();
    void replay();
    void clearView();
    void sendCurrent();
    void setAppearance(const Theme& theme, const QFont& dataFont);
    QJsonObject settings() const;
    void restore(const QJsonObject& settings);

    // Read by the GUI search of the main window.
    QString viewId;
    QString channelId;
    LogView* log = nullptr;
    FilterBox* filterBox = nullptr;

    Channel* boundChannel() const { return channel.data(); }
    qint64 readPosition() const { return readCursor; }
    qint64 clearPoint() const { return baseCursor; }

Q_SIGNALS:
    void configurationChanged();
    void windowHidden();
    void zoomRequested(int steps);

protected:
    void moveEvent(QMoveEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void showEvent(QShowEvent* event) override;
    void hideEvent(QHideEvent* event) override;

private:
    IconButton* toggleButton(const QString& icon, const QString& tip, const QString& name, bool checked);

    QPointer<Channel> channel;
    qint64 readCursor = 0;
    qint64 baseCursor = 0;
    Theme theme;
    QFont dataFont;
    QLabel* sourceLabel = nullptr;
    QLabel* connectionLabel = nullptr;
    QLabel* statisticsLabel = nullptr;
    QLabel* messageLabel = nullptr;
    IconButton* pauseButton = nullptr;
    IconButton* hexButton = nullptr;
    IconButton* timestampsButton = nullptr;
    IconButton* followButton = nullptr;
    QComboBox* encodingCombo = nullptr;
    QComboBox* newlineCombo = nullptr;
    QLineEdit* payloadEdit = nullptr;
    QPushButton* sendButton = nullptr;
    QTimer pollTimer;
    QTimer geometryTimer;
};

} // namespace vn
