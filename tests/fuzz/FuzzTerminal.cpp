// The terminal interpreter's feed on arbitrary device output, cut into random
// deliveries, on a small screen that the input may also resize. The grid must
// stay within its size and the cursor on it.

#include "tests/fuzz/FuzzSupport.h"
#include "ui/views/TerminalParser.h"
#include "ui/views/TerminalScreen.h"

#include <QStringList>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    if (size < 3)
        return 0;
    vn::fuzz::ensureApplication();
    static const QStringList encodings{QStringLiteral("utf-8"), QStringLiteral("gbk"), QStringLiteral("latin1")};
    vn::TerminalScreen screen(2 + data[0] % 40, 1 + data[1] % 12);
    vn::TerminalParser parser(screen);
    parser.reset(encodings.at(data[1] / 12 % 3));
    const vn::fuzz::Input input(data + 2, size - 2);
    int n = 0;
    for (const QByteArray& piece : input.pieces()) {
        parser.feed(piece);
        // Now and then the window changes size between deliveries.
        if (input.chunking & 0x80 && ++n % 7 == 0 && !piece.isEmpty())
            screen.resize(2 + std::uint8_t(piece.front()) % 60, 1 + std::uint8_t(piece.back()) % 20);
        const QPoint cursor = screen.cursor();
        if (cursor.x() < 0 || cursor.x() >= screen.cols() || cursor.y() < 0 || cursor.y() >= screen.rows())
            vn::fuzz::broken("cursor off the grid");
        if (screen.lines().size() != screen.rows())
            vn::fuzz::broken("screen has a different number of lines than rows");
        if (screen.history().size() > std::size_t(vn::TerminalScreen::kHistoryLimit))
            vn::fuzz::broken("history past its limit");
    }
    // Every document row can be read back.
    for (int row = 0; row < screen.documentRows(); ++row)
        (void)screen.documentCell(row, screen.cols() - 1);
    return 0;
}
