#pragma once

#include <QByteArray>
#include <QString>
#include <QTimer>
#include <QWidget>

class QPlainTextEdit;
class QPushButton;
class QSpinBox;

namespace vn {

class Combo;
class IconButton;
class Pane;
class SendFooter;

// The sender of a session page: the send box, its text encoding, line ending
// and HEX switch, the target of a multi-peer connection, the template button,
// repeat sending and the send button. Everything it sends goes out on the
// page's channel with the source "gui".
class SendBar : public QWidget {
    Q_OBJECT
public:
    explicit SendBar(Pane& page, QWidget* parent = nullptr);

    QPlainTextEdit* textBox = nullptr;
    Combo* encoding = nullptr;
    Combo* newline = nullptr;
    IconButton* sendHex = nullptr;
    Combo* target = nullptr;
    IconButton* templates = nullptr;
    IconButton* repeat = nullptr;
    QSpinBox* interval = nullptr;
    QPushButton* sendButton = nullptr;
    SendFooter* footer = nullptr;

    QTimer repeatTimer;
    QByteArray repeatPayload;
    QString repeatTarget;

    // "none", "lf", "cr" or "crlf" after the line-ending combo's index.
    QString lineEnding() const;
    // The send box encoded as it would be sent; throws with the user's message.
    QByteArray encoded() const;
    // Sends the send box once on the page's channel; throws on any failure.
    void sendOnce();
    void stopRepeat();

private:
    void repeatToggled(bool on);
    void startRepeat();
    void repeatStep();

    Pane& m_page;
};

} // namespace vn
