#include "platform/SerialDevice.h"

#include <QFile>

#include <cerrno>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>

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

bool SerialDevice::isPseudoTerminal(int descriptor)
{
    struct stat info {};
    if (::fstat(descriptor, &info) != 0 || !S_ISCHR(info.st_mode))
        return false;
    // Unix98 pty slaves use majors 136 to 143.
    const unsigned int major = ::major(info.st_rdev);
    return major >= 136 && major <= 143;
}

} // namespace vn::platform
