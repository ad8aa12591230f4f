#include "ui/window/Window.h"

namespace vn {

// Placeholder until the workspace writer lands.
void Window::saveSettings() {}

} // namespace vn
