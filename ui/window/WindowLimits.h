#pragma once

#include <QSize>

namespace vn {

// The smallest size a main window takes; below it the sidebar and the pages
// no longer fit side by side. The command line checks sizes against it
// before any window exists.
constexpr QSize MinimumWindowSize(480, 320);

} // namespace vn
