#pragma once

#include <QString>

namespace vn {

class Pane;

// What a session page does with its frame script. Scripts run only on serial
// sessions: not on control pages, nor on network, SSH or demo sessions.

// True for a serial session page; the kind comes from the bound channel while
// it exists, else from the page's own settings.
bool pageSupportsScript(const Pane* page);

// Configures the page's channel with the script (or, without a channel,
// compiles it only to check it when enabled), then keeps code and flag in the
// page and saves the workspace. Throws ScriptError; on a throw nothing of the
// page or the channel has changed.
void applyPageScript(Pane* page, const QString& code, bool enabled);

} // namespace vn
