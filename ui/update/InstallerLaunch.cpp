#include "ui/update/InstallerLaunch.h"

#include "ui/update/PrivateFolder.h"

#include <QFile>
#include <QFileInfo>
#include <QProcess>

namespace vn {

bool startInstaller(const QString& path)
{
    if (path.isEmpty() || !isOwnRegularFile(path))
        return false;
    const QFileInfo file(path);
    if (!QFile::setPermissions(path, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner
                                         | QFile::ReadUser | QFile::WriteUser | QFile::ExeUser))
        return false;
    return QProcess::startDetached(file.absoluteFilePath(), {}, file.absolutePath());
}

} // namespace vn
