#pragma once

#include <QString>

namespace vn::platform {

// What the system knows about a serial device node, beyond Qt's port list.
class SerialDevice {
public:
    // The path a port name is opened at: absolute paths as written (case
    // kept), bare names under /dev.
    static QString path(const QString& port);

    // The node behind the port (symlinks followed) exists and is a character
    // device; ptys and symlinked paths count although Qt does not list them.
    static bool exists(const QString& port);

    // Whether the open port answers the modem-line ioctls. A pty (or any
    // driver that answers ENOTTY/EINVAL) has no DTR or RTS to set.
    static bool hasModemLines(int descriptor);

    // The open port is the slave side of a pseudo terminal: it has a rate
    // and a character size but no line that could carry parity or stop bits,
    // and the driver refuses those settings.
    static bool isPseudoTerminal(int descriptor);
};

} // namespace vn::platform
