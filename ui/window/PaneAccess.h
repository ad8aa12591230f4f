#pragma once

#include "core/Channel.h"

#include <QJsonObject>
#include <QString>
#include <QVariant>

namespace vn {

// The sidebar's way to what a session page keeps for it: its frame script and
// the port entry last shown for its port. Pages that offer their own members
// for these are asked through them; for a page that does not (yet) carry one,
// the same rule is applied here, so the sidebar works whichever page
// implementation is linked in.

template <typename Page>
QJsonObject savedPortOf(const Page* page)
{
    if constexpr (requires { page->savedPort; })
        return page->savedPort;
    else
        return page->property("savedPortInfo").toJsonObject();
}

template <typename Page>
void setSavedPort(Page* page, const QJsonObject& port)
{
    if constexpr (requires { page->savedPort; })
        page->savedPort = port;
    else
        page->setProperty("savedPortInfo", port);
}

template <typename Page>
bool pageSupportsScript(const Page* page)
{
    if constexpr (requires { page->supportsScript(); }) {
        return page->supportsScript();
    } else {
        const QString kind = page->channel ? page->channel->config.kind : page->config.kind;
        return !page->isControl() && kind == QLatin1String("serial");
    }
}

template <typename Page>
bool pageScriptEnabled(const Page* page)
{
    if constexpr (requires { page->scriptEnabled; })
        return page->scriptEnabled;
    else
        return false;
}

// Throws ScriptError (or the engine's runtime error) when the script cannot be
// applied.
template <typename Page>
void applyPageScript(Page* page, bool enabled)
{
    if constexpr (requires { page->applyScript(QString(), enabled); }) {
        page->applyScript(page->scriptCode, enabled);
    } else if constexpr (requires { page->scriptCode; page->scriptEnabled; }) {
        if (page->channel)
            page->channel->configureScript(page->scriptCode, enabled);
        page->scriptEnabled = enabled;
    }
}

template <typename Page>
void openPageScriptEditor(Page* page)
{
    if constexpr (requires { page->openScriptEditor(false); })
        page->openScriptEditor(false);
}

} // namespace vn
