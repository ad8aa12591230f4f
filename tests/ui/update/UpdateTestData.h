#pragma once

// Releases, manifests and installers the update dialog and roll-back page tests serve
// from the local HTTP server.
#include "LocalHttpServer.h"

#include "ui/update/InstallerPlatform.h"

#include <QCryptographicHash>
#include <QDateTime>
#include <QDesktopServices>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QList>
#include <QObject>
#include <QTextBlock>
#include <QTextBrowser>
#include <QTextCursor>
#include <QTextDocument>
#include <QTest>
#include <QUrl>

namespace vn::test {

inline QString sha(const QByteArray& bytes)
{
    return QString::fromLatin1(QCryptographicHash::hash(bytes, QCryptographicHash::Sha256).toHex());
}

// The bytes a pattern route sends for `size` bytes.
inline QByteArray patternBytes(qint64 size)
{
    QByteArray bytes;
    while (bytes.size() < size)
        bytes += patternBlock();
    bytes.truncate(size);
    return bytes;
}

// A stand-in installer: it writes how many arguments it got, its working folder and
// the arguments themselves into a file beside itself.
inline QByteArray recordingInstaller()
{
    return "#!/bin/sh\nprintf '%s\\n' \"$#\" \"$PWD\" \"$@\" > \"$0.ran.tmp\" && mv \"$0.ran.tmp\" \"$0.ran\"\n";
}

inline QByteArray compact(const QJsonValue& value)
{
    return value.isArray() ? QJsonDocument(value.toArray()).toJson(QJsonDocument::Compact)
                           : QJsonDocument(value.toObject()).toJson(QJsonDocument::Compact);
}

inline QString feedPath(const QString& version)
{
    return QStringLiteral("/updates/") + installer_platform::fileName(version);
}

inline QJsonObject manifest(const QString& version, const QByteArray& sha256, qint64 size,
                            const QString& notes)
{
    return {{"version", version},
            {"url", QStringLiteral("https://updates.dalmor.net") + feedPath(version)},
            {"sha256", QString::fromLatin1(sha256)},
            {"size", size},
            {"filename", installer_platform::fileName(version)},
            {"title", "Varnelle " + version},
            {"notes", notes},
            {"published_at", "2026-12-01T10:00:00Z"}};
}

inline QString downloadPath(const QString& version)
{
    return QStringLiteral("/dalmor/varnelle/releases/download/v%1/%2")
        .arg(version, installer_platform::fileName(version));
}

inline QJsonObject release(const QString& version, const QByteArray& file, const QString& notes)
{
    const QJsonObject asset{{"name", installer_platform::fileName(version)},
                            {"state", "uploaded"},
                            {"size", file.size()},
                            {"digest", "sha256:" + sha(file)},
                            {"browser_download_url", "https://github.com" + downloadPath(version)}};
    return {{"tag_name", "v" + version}, {"name", "Varnelle " + version}, {"draft", false},
            {"prerelease", false}, {"body", notes}, {"published_at", "2026-12-01T10:00:00Z"},
            {"assets", QJsonArray{asset}}};
}

inline QString localDate(const char* iso)
{
    return QDateTime::fromString(QString::fromLatin1(iso), Qt::ISODate).toLocalTime().toString("yyyy-MM-dd");
}

// Records the links the desktop was asked to open, per scheme.
class OpenedLinks : public QObject {
    Q_OBJECT
public:
    OpenedLinks()
    {
        for (const char* scheme : {"https", "http", "file", "mailto"})
            QDesktopServices::setUrlHandler(QString::fromLatin1(scheme), this, "open");
    }
    ~OpenedLinks() override
    {
        for (const char* scheme : {"https", "http", "file", "mailto"})
            QDesktopServices::unsetUrlHandler(QString::fromLatin1(scheme));
    }
    QList<QUrl> opened;

public Q_SLOTS:
    void open(const QUrl& url) { opened.append(url); }
};

// Clicks the link with the given target in a visible text browser, with the mouse.
inline bool clickLink(QTextBrowser* browser, const QString& href)
{
    for (QTextBlock block = browser->document()->begin(); block.isValid(); block = block.next()) {
        for (auto it = block.begin(); !it.atEnd(); ++it) {
            const QTextFragment fragment = it.fragment();
            if (fragment.charFormat().anchorHref() != href)
                continue;
            QTextCursor cursor(browser->document());
            cursor.setPosition(fragment.position() + 1);
            const QPoint point = browser->cursorRect(cursor).center();
            QTest::mouseClick(browser->viewport(), Qt::LeftButton, {}, point);
            return true;
        }
    }
    return false;
}

} // namespace vn::test
