#include "ui/ssh/SshDialogs.h"

#include "ui/ssh/SshPromptDialog.h"

namespace vn {

void showSshAuthPrompt(SshAuthPrompt* prompt, QWidget* parent, const Theme& theme)
{
    SshPromptDialog::ask(prompt, parent, theme);
}

// Placeholder until the cache-clearing dialog lands.
void clearSshCache(const Config&, Engine*, QWidget*, const Theme&) {}

} // namespace vn
