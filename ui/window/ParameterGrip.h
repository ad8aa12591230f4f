#pragma once

#include <QWidget>

namespace vn {

class Window;

// The handle on the sidebar's edge that sets the sidebar width: drag it, nudge
// it with the arrow keys (Shift for larger steps), or reset it with a
// double-click or Home. The workspace file is written when a change is
// finished, not on every step of a drag.
class ParameterGrip : public QWidget {
    Q_OBJECT
public:
    ParameterGrip(Window* window, QWidget* parent);

    bool isDragging() const { return dragging; }

protected:
    void paintEvent(QPaintEvent* event) override;
    void enterEvent(QEnterEvent* event) override;
    void leaveEvent(QEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;

private:
    int sidebarWidth() const;

    Window* window = nullptr;
    bool dragging = false;
    double pressX = 0.0;
    int startWidth = 246;
};

} // namespace vn
