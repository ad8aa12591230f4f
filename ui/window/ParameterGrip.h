#pragma once

#include <QWidget>

namespace vn {

class Window;

// The handle on the sidebar's edge that sets the sidebar width.
class ParameterGrip : public QWidget {
    Q_OBJECT
public:
    ParameterGrip(Window* window, QWidget* parent);

private:
    Window* window = nullptr;
};

} // namespace vn
