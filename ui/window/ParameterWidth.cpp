#include "ui/window/Window.h"

namespace vn {

// Placeholders until the sidebar width rules land.
void Window::resizeParameters(int width) { parameterWidth = width; }
void Window::arrangeParameters() {}

} // namespace vn
