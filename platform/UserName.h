#pragma once

#include <QString>

namespace vn {

// The name of the user running the program, as the desktop session knows it:
// the login name here, so that a user's instances find each other and other
// users' stay apart. Empty when no name can be found.
QString userName();

} // namespace vn
