#include "platform/DeviceWatch.h"

#include <QDir>
#include <QFileInfo>
#include <QFileSystemWatcher>

namespace vn::platform {

QStringList DeviceWatch::defaultFolders()
{
    return {QStringLiteral("/dev"), QStringLiteral("/dev/serial/by-id")};
}

DeviceWatch::DeviceWatch(QObject* parent, const QStringList& watchedFolders)
    : QObject(parent)
    , folders(watchedFolders)
    , watcher(new QFileSystemWatcher(this))
{
    watchExisting();
    connect(watcher, &QFileSystemWatcher::directoryChanged, this, [this]() {
        // The by-id folder appears with the first USB serial device and goes
        // with the last, so the list of watched folders follows each change.
        watchExisting();
        Q_EMIT devicesChanged();
    });
}

QStringList DeviceWatch::watched() const
{
    return watcher->directories();
}

void DeviceWatch::watchExisting()
{
    const QStringList current = watcher->directories();
    for (const QString& folder : std::as_const(folders)) {
        if (!current.contains(folder) && QFileInfo(folder).isDir())
            watcher->addPath(folder);
    }
}

} // namespace vn::platform
