#include "platform/SerialDevice.h"

#include <QFile>

#include <cerrno>
#include <sys/ioctl.h>
#include <sys/stat.h>

namespace vn::platform {

QString SerialDevice::path(const QString& port)
{
    if (port.startsWith(QLatin1Char('/')))
        return port;
    return QStringLiteral("/dev/") + port;
}

bool SerialDevice::exists(const QString& port)
{
    if (port.isEmpty())
        return false;
    struct stat info {};
    const QByteArray native = QFile::encodeName(path(port));
    return ::stat(native.constData(), &info) == 0 && S_ISCHR(info.st_mode);
}

bool SerialDevice::hasModemLines(int descriptor)
{
    int lines = 0;
    if (::ioctl(descriptor, TIOCMGET, &lines) == 0)
        return true;
    return errno != ENOTTY && errno != EINVAL;
}

} // namespace vn::platform
