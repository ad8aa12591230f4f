#include "platform/UserName.h"

#include <QByteArray>

#include <pwd.h>
#include <unistd.h>

namespace vn {

QString userName()
{
    // The session's own variables first, as a login shell sets them; the
    // password database only when both are missing (a bare service start).
    for (const char* variable : {"USER", "LOGNAME"}) {
        const QByteArray value = qgetenv(variable);
        if (!value.isEmpty())
            return QString::fromLocal8Bit(value);
    }
    if (const passwd* entry = ::getpwuid(::geteuid()); entry && entry->pw_name)
        return QString::fromLocal8Bit(entry->pw_name);
    return {};
}

} // namespace vn
