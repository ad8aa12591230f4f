#pragma once

#include <QObject>
#include <QStringList>

class QFileSystemWatcher;

namespace vn::platform {

// Tells when serial devices may have come or gone: watches the device folder
// (and, once it exists, the folder of stable by-id links) and reports any
// change there. It says nothing about which device changed; the listener
// lists the ports again.
class DeviceWatch : public QObject {
    Q_OBJECT
public:
    // The folders watched by default: "/dev" and "/dev/serial/by-id".
    static QStringList defaultFolders();

    explicit DeviceWatch(QObject* parent = nullptr, const QStringList& folders = defaultFolders());

    // The folders being watched at the moment (those that exist).
    QStringList watched() const;

Q_SIGNALS:
    void devicesChanged();

private:
    void watchExisting();

    QStringList folders;
    QFileSystemWatcher* watcher = nullptr;
};

} // namespace vn::platform
