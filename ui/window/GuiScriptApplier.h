#pragma once

#include <QString>

#include <optional>

namespace vn {

class Channel;
class Window;

// The saved trial-parse HEX text of the channel's session page; empty when the
// window or the page is gone.
QString guiSampleText(Window* root, Channel* channel);

// Applies an agent's frame script through the channel's session pages and
// their open editors, so the GUI never keeps a stale copy of it. Refuses
// (through `fail`) before changing anything while an open editor holds
// unsaved work or is test-parsing.
void applyGuiScript(Window* root, Channel* channel, const QString& code, bool enabled,
                    const std::optional<QString>& sample);

} // namespace vn
