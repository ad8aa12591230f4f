#pragma once

#include <QString>

class QTextBrowser;

namespace vn {

// How the update dialog and the roll-back page write a release for the user.

// Bytes in MiB with one decimal place: 15,439,442 bytes give "14.7".
QString mebibytes(qint64 bytes);

// The release date as "yyyy-MM-dd" in local time, or empty when the ISO 8601 text
// does not parse.
QString releaseDate(const QString& publishedAt);

// Renders release notes as GitHub-flavoured Markdown with HTML switched off, since
// the notes come from the network.
void renderNotes(QTextBrowser* browser, const QString& markdown);

// Makes the browser hand a clicked link to the desktop only when it is HTTPS;
// anything else (plain HTTP, local files, other schemes) is ignored.
void openHttpsLinksOnly(QTextBrowser* browser);

} // namespace vn
