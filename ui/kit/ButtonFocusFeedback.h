#pragma once

namespace vn {

// Marks buttons whose focus came from the keyboard with the dynamic property
// "keyboardFocus", so that the sheet, IconButton and the button motion show the
// accent focus only then. Installs one application-wide filter; later calls do
// nothing.
void installButtonFocusFeedback();

} // namespace vn
