#pragma once

#include <QWidget>

class QComboBox;
class QPushButton;
class QSpinBox;

namespace vn {

class Window;

// The "外观" page of the settings dialog: palette, data font and size, and
// the background settings. Theme and font changes go through the window, which
// applies them to every window.
class AppearancePage : public QWidget {
    Q_OBJECT
public:
    explicit AppearancePage(Window* window, QWidget* parent = nullptr);

    // Shows the window's current palette and data font without acting on them.
    void showCurrent();

private:
    void chooseFont();
    void takeFont(const QFont& font);

    Window* window;
    QComboBox* themeChoice = nullptr;
    QPushButton* fontChoice = nullptr;
    QSpinBox* fontSize = nullptr;
};

} // namespace vn
