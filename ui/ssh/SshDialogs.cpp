#include "ui/ssh/SshDialogs.h"

#include "ui/ssh/SshCacheDialog.h"
#include "ui/ssh/SshPromptDialog.h"

namespace vn {

void showSshAuthPrompt(SshAuthPrompt* prompt, QWidget* parent, const Theme& theme)
{
    SshPromptDialog::ask(prompt, parent, theme);
}

void clearSshCache(const Config& config, Engine* engine, QWidget* parent, const Theme& theme)
{
    SshCacheDialog::run(config, engine, parent, theme);
}

} // namespace vn
