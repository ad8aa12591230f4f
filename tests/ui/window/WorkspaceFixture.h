#pragma once

#include "core/Engine.h"
#include "mcp/McpServer.h"
#include "ui/agents/AgentEnvironment.h"
#include "ui/window/Window.h"

#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTemporaryDir>

#include <memory>

namespace vn::test {

// The machine as agent discovery sees it from a home folder of the test's own,
// so a window's settings never look at the user's agent tools.
inline AgentEnvironment agentsAt(const QString& home)
{
    AgentEnvironment environment;
    environment.home = home;
    environment.appData = home + QStringLiteral("/.config");
    return environment;
}

// A root window over a real engine and MCP server, with its workspace file in
// a folder of its own. The file may be laid down before the window is opened.
class WorkspaceFixture {
public:
    WorkspaceFixture() : path(folder.filePath(QStringLiteral("settings.json"))) {}

    void writeFile(const QByteArray& bytes) const
    {
        QFile file(path);
        if (file.open(QIODevice::WriteOnly))
            file.write(bytes);
    }
    void writeFile(const QJsonObject& object) const
    {
        writeFile(QJsonDocument(object).toJson(QJsonDocument::Indented));
    }
    QByteArray fileBytes() const
    {
        QFile file(path);
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
    }
    QJsonObject fileObject() const { return QJsonDocument::fromJson(fileBytes()).object(); }
    QJsonObject fileAppearance() const
    {
        return fileObject().value(QStringLiteral("appearance")).toObject();
    }

    Window* open()
    {
        window = std::make_unique<Window>(&engine, &server, path, nullptr);
        return window.get();
    }

    QTemporaryDir folder;
    QString path;
    Engine engine;
    McpServer server{&engine};
    std::unique_ptr<Window> window;
};

} // namespace vn::test
