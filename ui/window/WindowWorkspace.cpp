#include "ui/window/Window.h"

#include "core/Channel.h"
#include "core/Engine.h"
#include "mcp/McpServer.h"
#include "ui/pages/Pane.h"
#include "ui/window/WorkspaceFile.h"

#include <QDialog>
#include <QJsonArray>

#include <exception>

namespace vn {

namespace {

// A page may still point at a channel the engine has already let go of
// (removal deletes it later); such a page must not overwrite its views entry.
bool engineHolds(const Engine* engine, const Channel* channel)
{
    if (!engine || !channel)
        return false;
    const auto found = engine->channels.find(channel->id);
    return found != engine->channels.end() && found->second == channel;
}

} // namespace

void Window::saveSettings()
{
    Window* top = rootWindow();
    if (top != this) {
        top->saveSettings();
        return;
    }
    // The user was told at start that this run keeps no workspace.
    if (savingHeld)
        return;

    QList<Window*> walk;
    for (const QPointer<Window>& each : windows) {
        if (each)
            walk.append(each.data());
    }
    if (walk.isEmpty())
        walk.append(this);

    QJsonArray controlPages;
    Pane* appearancePage = nullptr;
    for (Window* each : walk) {
        if (const QDialog* dialog = each->settingsDialog(); dialog && dialog->isVisible()) {
            settings.insert(QStringLiteral("settings_geometry"),
                            QString::fromLatin1(dialog->saveGeometry().toBase64()));
        }
        for (Pane* page : std::as_const(each->pages)) {
            if (page->isControl()) {
                controlPages.append(page->settings());
                continue;
            }
            if (!appearancePage || page == current)
                appearancePage = page;
            if (engineHolds(engine, page->channel))
                views.insert(page->channel->config.key(), page->settings());
        }
    }

    const QJsonObject pageLook = appearancePage
                                     ? appearancePage->settings()
                                     : settings.value(QStringLiteral("appearance")).toObject();
    const QJsonObject appearance = appearanceForFile(pageLook, theme.dark, dataFont, parameterWidth,
                                                     windowBackground, receiveBackground);

    QJsonObject connection = settings.value(QStringLiteral("connection")).toObject();
    if (sessionPane) {
        try {
            connection = form().json();
        } catch (const std::exception&) {
            // A half-typed field keeps the connection last written.
        }
    } else if (appearancePage) {
        connection = appearancePage->channel ? appearancePage->channel->config.json()
                                             : appearancePage->config.json();
    }
    // Kept in the loaded copy so a later write with a half-typed field falls
    // back to this connection rather than to the one read at start.
    settings.insert(QStringLiteral("connection"), connection);

    QJsonValue geometry = settings.value(QStringLiteral("settings_geometry"));
    if (geometry.isUndefined())
        geometry = QJsonValue(QJsonValue::Null);
    const int port = server && server->isListening()
                         ? int(server->serverPort())
                         : settings.value(QStringLiteral("mcp_port")).toInt(8765);

    QJsonObject file;
    file.insert(QStringLiteral("connection"), connection);
    file.insert(QStringLiteral("appearance"), appearance);
    file.insert(QStringLiteral("views"), views);
    file.insert(QStringLiteral("widget_pages"), controlPages);
    file.insert(QStringLiteral("templates"), templates);
    file.insert(QStringLiteral("allow_ai_control"), engine && engine->allowAiControl);
    file.insert(QStringLiteral("mcp_protocols"),
                server ? server->protocolAccess()
                       : settings.value(QStringLiteral("mcp_protocols")).toObject());
    file.insert(QStringLiteral("settings_geometry"), geometry);
    file.insert(QStringLiteral("mcp_port"), port);

    const QString failure = writeWorkspaceFile(settingsPath, file);
    if (!failure.isEmpty())
        error(failure);
}

} // namespace vn
