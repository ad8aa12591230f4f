#include "platform/MemoryTrim.h"

#include <QFile>

#include <cstdlib>   // defines __GLIBC__ where the C library is glibc

#if defined(__GLIBC__)
#include <malloc.h>
#endif

namespace vn {

bool returnFreeMemoryToSystem()
{
#if defined(__GLIBC__)
    // 0: keep no padding at the top of the heap; glibc also releases the free
    // pages inside every arena, not only at its end.
    return ::malloc_trim(0) != 0;
#else
    return false;
#endif
}

qint64 residentMemoryKib()
{
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray& line : status.readAll().split('\n')) {
        if (line.startsWith("VmRSS:"))
            return line.mid(6).trimmed().split(' ').value(0).toLongLong();
    }
    return -1;
}

} // namespace vn
