#include "ui/ssh/SshDialogs.h"

#include "core/ssh/SshAuthSession.h"

namespace vn {

// Placeholders until the dialogs land: a question is cancelled, so the
// connection fails instead of waiting for an answer nobody can give.
void showSshAuthPrompt(SshAuthPrompt* prompt, QWidget*, const Theme&)
{
    if (prompt)
        prompt->cancel();
}

void clearSshCache(const Config&, Engine*, QWidget*, const Theme&) {}

} // namespace vn
