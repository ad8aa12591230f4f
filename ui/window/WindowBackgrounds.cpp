#include "ui/window/Window.h"

#include <QWidget>

namespace vn {

// Placeholders until the background settings land.
void Window::installUpdate(const QString&) {}
QWidget* Window::backgroundSettingsPanel() { return new QWidget; }
void Window::applyBackgrounds() {}

} // namespace vn
