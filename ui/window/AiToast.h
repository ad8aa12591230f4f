#pragma once

#include <QFrame>

class QLabel;
class QPushButton;
class QTimer;

namespace vn {

class IconButton;

// The floating note that tells the user an AI agent just used a session. It
// hides itself ten seconds after it was last shown.
class AiToast : public QFrame {
    Q_OBJECT
public:
    static constexpr int HideAfterMs = 10000;

    explicit AiToast(QWidget* parent);

    // Shows the text and (re)starts the hide countdown.
    void showText(const QString& text);

    QLabel* text = nullptr;
    QPushButton* detail = nullptr;
    QPushButton* all = nullptr;
    IconButton* close = nullptr;
    QTimer* timer = nullptr;

Q_SIGNALS:
    void detailRequested();
    void allRequested();
};

} // namespace vn
