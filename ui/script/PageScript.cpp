#include "ui/script/PageScript.h"

#include "core/Channel.h"
#include "core/script/FrameScriptProgram.h"
#include "core/script/ScriptError.h"
#include "ui/pages/Pane.h"
#include "ui/window/Window.h"

namespace vn {

bool pageSupportsScript(const Pane* page)
{
    if (!page || page->isControl() || page->instrument())
        return false;
    const Config& config = page->channel ? page->channel->config : page->config;
    return config.kind == QLatin1String("serial");
}

void applyPageScript(Pane* page, const QString& code, bool enabled)
{
    if (!pageSupportsScript(page))
        throw ScriptError(0, QStringLiteral("脚本解析仅适用于串口会话"));
    if (page->channel)
        page->channel->configureScript(code, enabled);
    else if (enabled)
        FrameScriptProgram::compile(code);
    page->scriptCode = code;
    page->scriptEnabled = enabled;
    if (page->window) {
        page->window->saveSettings();
        page->window->updateStatus();
    }
    page->refreshScriptResults();
}

} // namespace vn
