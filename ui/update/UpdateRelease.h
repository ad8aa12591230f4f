#pragma once

#include <QByteArray>
#include <QString>
#include <QUrl>

namespace vn {

// One published release, as the feed, the release-hosting service or the built-in
// list describes it. Every field has passed the updater's rules.
struct UpdateRelease {
    QString version;      // three dot-separated decimal numbers, no leading "v"
    QString fileName;     // the installer file name for this platform and version
    QUrl url;             // where the installer is downloaded from
    QByteArray sha256;    // 64 lower-case hexadecimal digits
    qint64 size = 0;      // 1 to 314,572,800 bytes
    QString title;
    QString notes;        // Markdown, at most 131,072 UTF-16 code units
    QString publishedAt;  // as the source gives it; for display only

    // Title, notes and date take no part: they describe the same installer.
    friend bool operator==(const UpdateRelease& a, const UpdateRelease& b)
    {
        return a.version == b.version && a.fileName == b.fileName && a.url == b.url
               && a.sha256 == b.sha256 && a.size == b.size;
    }
};

} // namespace vn
