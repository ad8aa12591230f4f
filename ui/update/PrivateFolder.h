#pragma once

#include <QString>

namespace vn {

// A folder that only the current user can enter (mode 0700), created with that mode
// when it is missing. An existing one is accepted only when it is a real folder (not a
// symbolic link) owned by the current user; its mode is then narrowed to 0700.
// Returns false when the folder cannot be made private.
bool ensurePrivateFolder(const QString& path);

// Whether the path is a regular file (not a symbolic link) owned by the current user.
bool isOwnRegularFile(const QString& path);

} // namespace vn
