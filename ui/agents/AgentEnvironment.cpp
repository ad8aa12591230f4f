#include "ui/agents/AgentEnvironment.h"

#include <QDir>
#include <QFileInfo>
#include <QProcessEnvironment>
#ifdef Q_OS_WIN
#include <QSettings>
#endif
#include <QStringList>

#include <algorithm>

namespace vn {

namespace {

QString joinFile(const QString& folder, const QString& file)
{
    if (QDir::isAbsolutePath(file))
        return file;
    return folder + QLatin1Char('/') + file;
}

// Windows accepts a tool by suffix; elsewhere a tool is a bare name with the
// executable bit.
const QStringList& toolSuffixes()
{
#ifdef Q_OS_WIN
    static const QStringList suffixes{QStringLiteral(".exe"), QStringLiteral(".cmd"),
                                      QStringLiteral(".bat"), QStringLiteral(".ps1"), QString()};
#else
    static const QStringList suffixes{QString()};
#endif
    return suffixes;
}

// The per-user package repository lists desktop applications installed as
// packages. Only Windows has one; elsewhere nothing is found there.
QString packagedExecutable(const QString& name)
{
#ifdef Q_OS_WIN
    QSettings packages(QStringLiteral("HKEY_CURRENT_USER\\Software\\Classes\\Local Settings\\Software\\"
                                      "Microsoft\\Windows\\CurrentVersion\\AppModel\\Repository\\Packages"),
                       QSettings::NativeFormat);
    const QStringList keys = packages.childGroups();
    for (const QString& key : keys) {
        if (!key.contains(name, Qt::CaseInsensitive))
            continue;
        const QString root = packages.value(key + QStringLiteral("/PackageRootFolder")).toString();
        if (root.isEmpty())
            continue;
        for (const QString& file : {name + QStringLiteral(".exe"), QStringLiteral("app/") + name + QStringLiteral(".exe")}) {
            const QString candidate = joinFile(root, file);
            if (QFileInfo::exists(candidate))
                return candidate;
        }
    }
#else
    Q_UNUSED(name)
#endif
    return {};
}

} // namespace

AgentEnvironment AgentEnvironment::current()
{
    AgentEnvironment env;
    const QProcessEnvironment system = QProcessEnvironment::systemEnvironment();
    env.home = QDir::homePath();
    env.appData = system.contains(QStringLiteral("APPDATA")) ? system.value(QStringLiteral("APPDATA"))
                                                             : env.home + QStringLiteral("/.config");
    env.localAppData = system.value(QStringLiteral("LOCALAPPDATA"));
    const QStringList names = system.keys();
    for (const QString& name : names)
        env.variables.insert(name, system.value(name));
    const QString searchPath = system.value(QStringLiteral("PATH"));
    env.path = searchPath.split(QDir::listSeparator(), Qt::SkipEmptyParts);
    env.path << env.home + QStringLiteral("/.local/bin") << env.home + QStringLiteral("/.cargo/bin")
#ifdef Q_OS_WIN
             << env.home + QStringLiteral("/.hermes/venv/Scripts")
#else
             << env.home + QStringLiteral("/.hermes/venv/bin")
#endif
             << env.appData + QStringLiteral("/npm")
             << env.localAppData + QStringLiteral("/Microsoft/WinGet/Links")
             << env.localAppData + QStringLiteral("/Microsoft/WindowsApps");
    env.fromSystem = true;
    return env;
}

QString AgentEnvironment::variable(const QString& name, const QString& fallback) const
{
    const auto it = variables.constFind(name);
    if (it == variables.constEnd() || it->isEmpty())
        return fallback;
    return *it;
}

QString AgentEnvironment::executable(const QString& name) const
{
    for (const QString& folder : path) {
        if (folder.isEmpty())
            continue;
        for (const QString& suffix : toolSuffixes()) {
            const QFileInfo candidate(joinFile(folder, name + suffix));
            if (candidate.isFile() && (!suffix.isEmpty() || candidate.isExecutable()))
                return candidate.absoluteFilePath();
        }
    }
    return {};
}

QString desktopExecutable(const AgentEnvironment& environment, const QString& name)
{
    const QString program = name + QStringLiteral(".exe");
    const QStringList roots{environment.localAppData + QLatin1Char('/') + name,
                            environment.localAppData + QStringLiteral("/Programs/") + name,
                            environment.variable(QStringLiteral("ProgramFiles")) + QLatin1Char('/') + name};
    for (const QString& root : roots) {
        const QString direct = root + QLatin1Char('/') + program;
        if (QFileInfo::exists(direct))
            return direct;
        QStringList folders = QDir(root).entryList({QStringLiteral("app-*")}, QDir::Dirs | QDir::NoDotAndDotDot | QDir::CaseSensitive,
                                                   QDir::NoSort);
        std::sort(folders.begin(), folders.end());
        for (const QString& folder : folders) {
            const QString candidate = root + QLatin1Char('/') + folder + QLatin1Char('/') + program;
            if (QFileInfo::exists(candidate))
                return candidate;
        }
    }
    if (!environment.fromSystem)
        return {};
    return packagedExecutable(name);
}

} // namespace vn
