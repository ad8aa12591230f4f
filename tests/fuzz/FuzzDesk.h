#pragma once

// The root window the fuzz targets of pages and the GUI bridge share for a
// whole run.

#include "core/Engine.h"
#include "mcp/McpServer.h"
#include "tests/fuzz/FuzzWidgets.h"
#include "ui/window/Window.h"

namespace vn::fuzz {

// A root window over its own engine and an MCP server that never listens,
// with its workspace file in the scratch folder. Made on first use and kept,
// like the application, until the process ends.
struct Desk {
    Engine engine;
    McpServer server{&engine};
    Window window{&engine, &server, scratchFolder().filePath(QStringLiteral("settings.json")), nullptr};
};

inline Desk& desk()
{
    ensureWidgets();
    static Desk& made = *new Desk;
    return made;
}

} // namespace vn::fuzz
