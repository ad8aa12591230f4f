#pragma once

#include <QList>
#include <QMap>
#include <QString>

namespace vn {

// The machine facts that agent discovery reads, taken once. Every discovery rule
// reads the machine only through this record and the file system, so tests can
// hand-build one over a temporary home and never see the real user's files.
struct AgentEnvironment {
    QString home;                      // forward slashes
    QString appData;                   // roaming application data, home + "/.config" by default
    QString localAppData;              // empty when unset
    QMap<QString, QString> variables;  // the whole process environment, names case-sensitive
    QList<QString> path;               // tool search folders, PATH first
    bool fromSystem = false;           // only a snapshot of the running process may ask the OS more

    static AgentEnvironment current();

    // A variable that is set to an empty string counts as unset.
    QString variable(const QString& name, const QString& fallback = {}) const;

    // Absolute path of the first matching tool on `path`, or empty.
    QString executable(const QString& name) const;
};

// Path of an installed desktop application's program file ("Codex", "Claude"), or empty.
QString desktopExecutable(const AgentEnvironment& environment, const QString& name);

} // namespace vn
