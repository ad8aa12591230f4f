#pragma once

#include <QPointer>
#include <QString>

namespace vn {

class Window;

// Puts the freshly shown root window into one of the named preview states
// ("agents", "settings", "dark", "search", "terminal", "ssh", "narrow",
// "protocol", "detached", or an instrument kind: "waveform", "json", "xml",
// "control", "floating-wave", and the older "values" and "structured").
// A preset that creates a torn-off window makes it the preview target. Parts
// of the window a preset needs that are not there are passed over silently.
void applyViewPreset(Window& root, const QString& view, QPointer<Window>& target);

} // namespace vn
