#pragma once

#include <QString>

namespace vn {

class Journal;

// The traffic file of a connection: every event of one channel that the
// journal still holds, oldest first, one compact JSON object per line.
class LogExport {
public:
    // Writes through a save file that replaces the target only when whole;
    // returns the save file's error text, empty on success.
    static QString write(const Journal& journal, const QString& channelId, const QString& path);
};

} // namespace vn
