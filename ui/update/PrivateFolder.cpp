#include "ui/update/PrivateFolder.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <unistd.h>

namespace vn {

namespace {

constexpr QFile::Permissions OwnerOnly =
    QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner | QFile::ReadUser | QFile::WriteUser
    | QFile::ExeUser;

bool ownedByUser(const QFileInfo& info)
{
    return info.ownerId() == uint(::geteuid());
}

} // namespace

bool ensurePrivateFolder(const QString& path)
{
    QFileInfo info(path);
    if (!info.isSymLink() && !info.exists()) {
        const QString parent = info.absolutePath();
        if (!QDir().mkpath(parent))
            return false;
        // Created with its final mode: there is no moment in which others may enter.
        if (!QDir().mkdir(path, OwnerOnly) && !QFileInfo(path).isDir())
            return false;
        info = QFileInfo(path);
    }
    if (info.isSymLink() || !info.isDir() || !ownedByUser(info))
        return false;
    if ((info.permissions() & ~OwnerOnly) != 0 && !QFile::setPermissions(path, OwnerOnly))
        return false;
    return true;
}

bool isOwnRegularFile(const QString& path)
{
    const QFileInfo info(path);
    return !info.isSymLink() && info.isFile() && ownedByUser(info);
}

} // namespace vn
