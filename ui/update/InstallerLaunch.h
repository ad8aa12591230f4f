#pragma once

#include <QString>

namespace vn {

// Starts a verified installer as a detached process, with no arguments and its own
// folder as working directory, after making sure it is still a regular file of the
// current user and executable by its owner only. Returns whether it started.
bool startInstaller(const QString& path);

} // namespace vn
