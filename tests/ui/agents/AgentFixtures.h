#pragma once

#include "ui/agents/AgentConfig.h"
#include "ui/agents/AgentEnvironment.h"
#include "tests/support/TestSupport.h"

#include <QByteArray>
#include <functional>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QString>
#include <QTemporaryDir>

namespace vn::test {

// An action's failure message; a marker that reads plainly in a failed comparison
// when it did not fail.
inline QString failure(const std::function<void()>& action)
{
    return errorOf(action, QStringLiteral("<no failure>"));
}

// A temporary home with a "bin" folder on the search path; nothing here ever
// looks at the real user's folders.
struct AgentHome {
    QTemporaryDir dir;

    QString root() const { return dir.path(); }
    QString bin() const { return dir.path() + QStringLiteral("/bin"); }

    AgentEnvironment environment() const
    {
        AgentEnvironment env;
        env.home = root();
        env.appData = root() + QStringLiteral("/.config");
        env.path = {bin()};
        return env;
    }

    // A file with the given bytes, its folders made as needed.
    QString write(const QString& relative, const QByteArray& bytes) const
    {
        const QString path = relative.startsWith(QLatin1Char('/')) ? relative : root() + QLatin1Char('/') + relative;
        QDir().mkpath(QFileInfo(path).absolutePath());
        QFile file(path);
        if (!file.open(QIODevice::WriteOnly) || file.write(bytes) != bytes.size())
            return {};
        return path;
    }

    // An executable program named `name` in the "bin" folder.
    QString tool(const QString& name, const QString& folder = {}) const
    {
        const QString path = write((folder.isEmpty() ? bin() : folder) + QLatin1Char('/') + name, "#!/bin/sh\n");
        QFile::setPermissions(path, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        return path;
    }
};

inline QByteArray readAll(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

inline AgentClient findClient(const QList<AgentClient>& clients, const QString& id)
{
    for (const AgentClient& client : clients) {
        if (client.id == id)
            return client;
    }
    return {};
}

} // namespace vn::test
