#pragma once

#include <QString>

namespace vn {

class Channel;
class Instrument;
class Pane;

// The data-source combo of a control page ("instrumentSource"): which
// channels a page of its kind may follow, the demo it offers, the stored
// source that is not connected yet, and the user's choice of one of them.
class InstrumentSources {
public:
    // Rebuilds the combo from the engine's channels and binds the page to the
    // channel its source key names (none when no listed channel has it).
    static void refresh(Pane& page, Instrument& instrument);
    // The user activated an item: opens the demo it names, then rebinds.
    static void choose(Pane& page, Instrument& instrument, int index);

    // A serial key is available when it is the loopback port or a port of
    // the window's serial-port list.
    static bool available(const Pane& page, const QString& key);
    // Whether a serial channel is offered as a source: while it is connected,
    // while it waits for its unplugged device ("reconnecting": the same
    // channel, which comes back by itself), or while its port is available.
    static bool offered(const Pane& page, const Channel& channel);
    // The port of a serial key as the port list spells it, else as the key holds it.
    static QString listedPort(const Pane& page, const QString& key);
};

} // namespace vn
