#pragma once

#include <QString>

namespace vn::platform {

// Line settings as the serial driver holds them after they were applied.
struct SerialLineSettings {
    bool ok = false;
    QString error;        // system error text when !ok
    int baudRate = 0;     // exact output rate, non-standard rates included
    int dataBits = 0;
    char parity = 'N';
    double stopBits = 1.0;
};

// Reads the settings of an open serial port back from the driver.
class SerialReadBack {
public:
    static SerialLineSettings read(int descriptor);
};

} // namespace vn::platform
