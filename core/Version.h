#pragma once

namespace vn {

// The program's version, shown in titles and sent by the updater and the agent probe.
inline constexpr char Version[] = "0.15.32";

} // namespace vn
