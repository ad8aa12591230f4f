#pragma once

#include <QString>

namespace vn {

// The application style-sheet template: one rule a line, colours and the
// interface family written as "$name" placeholders that Theme::stylesheet fills.
QString styleSheetTemplate();

} // namespace vn
