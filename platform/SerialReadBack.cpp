#include "platform/SerialReadBack.h"

// termios2 (exact rate in c_ospeed) lives in the kernel's header, which
// clashes with glibc's <termios.h>; this file uses the kernel's only.
#include <asm/termbits.h>
#include <sys/ioctl.h>

#include <cerrno>
#include <cstring>

namespace vn::platform {

SerialLineSettings SerialReadBack::read(int descriptor)
{
    SerialLineSettings out;
    struct termios2 tio {};
    if (descriptor < 0 || ::ioctl(descriptor, TCGETS2, &tio) != 0) {
        out.error = QString::fromLocal8Bit(std::strerror(descriptor < 0 ? EBADF : errno));
        return out;
    }
    out.ok = true;
    out.baudRate = int(tio.c_ospeed);
    switch (tio.c_cflag & CSIZE) {
    case CS5: out.dataBits = 5; break;
    case CS6: out.dataBits = 6; break;
    case CS7: out.dataBits = 7; break;
    default: out.dataBits = 8; break;
    }
    if (!(tio.c_cflag & PARENB))
        out.parity = 'N';
    else if (tio.c_cflag & CMSPAR)
        out.parity = (tio.c_cflag & PARODD) ? 'M' : 'S';
    else
        out.parity = (tio.c_cflag & PARODD) ? 'O' : 'E';
    // termios knows one or two stop bits; 1.5 is what two mean at 5 data bits.
    if (tio.c_cflag & CSTOPB)
        out.stopBits = out.dataBits == 5 ? 1.5 : 2.0;
    else
        out.stopBits = 1.0;
    return out;
}

} // namespace vn::platform
