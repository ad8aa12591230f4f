#pragma once

#include "ui/kit/BackgroundImage.h"
#include "ui/kit/Theme.h"

#include <QImage>

class QObject;

namespace vn {

// Installs (once) the application filter that gives every window and dialog the
// program icon and a caption strip painted in the theme's background colour and
// the window background picture. Returns the controller; safe to call often.
QObject* installWindowChrome();

// Hands the current theme and window background to the chrome and refreshes
// every caption strip.
void updateWindowChrome(const Theme& theme, const BackgroundSpec& background, const QImage& image);

// The program icon every window gets: the lightning on the rail colour.
QIcon programIcon();

} // namespace vn
