#pragma once

#include <QString>

namespace vn {

class Journal;

// The traffic file of a connection: every event of one channel that the
// journal still holds, oldest first, one compact JSON object per line.
class LogExport {
public:
    // Replaces the target only when the whole file was written; returns the
    // system's error text, empty on success (the target is then untouched).
    static QString write(const Journal& journal, const QString& channelId, const QString& path);
};

} // namespace vn
