#pragma once

namespace vn {

// The program's entry: sets up the application, reads the command line, runs
// a head-less skill mode or makes this the single window instance, then runs
// the engine, the MCP server and the root window until the last window
// closes. Returns the process exit code.
int qMain(int argc, char** argv);

} // namespace vn
