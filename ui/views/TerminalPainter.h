#pragma once

class QPainter;

namespace vn {

class TerminalView;

// Paints a TerminalView: background, cell backgrounds and selection,
// characters, and on the live screen the cursor and the preedit text.
class TerminalPainter {
public:
    static void paint(const TerminalView& view, QPainter& painter);
};

} // namespace vn
