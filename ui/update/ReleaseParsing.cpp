// The rules a release must pass before the updater trusts it: the feed manifest, the
// REST release object and the release list.
#include "ui/update/InstallerPlatform.h"
#include "ui/update/UpdateHosts.h"
#include "ui/update/UpdateService.h"

#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRegularExpression>
#include <QVersionNumber>

#include <algorithm>

namespace vn {

namespace {

// \A and \z: the whole text must match; "$" would let a trailing line feed through.
const QRegularExpression& versionPattern()
{
    static const QRegularExpression pattern(QStringLiteral("\\A[0-9]+\\.[0-9]+\\.[0-9]+\\z"));
    return pattern;
}

const QRegularExpression& digestPattern()
{
    static const QRegularExpression pattern(QStringLiteral("\\A[0-9a-fA-F]{64}\\z"));
    return pattern;
}

const QRegularExpression& assetDigestPattern()
{
    static const QRegularExpression pattern(QStringLiteral("\\Asha256:([0-9a-fA-F]{64})\\z"));
    return pattern;
}

// The version as a number, or nothing when it is not exactly three numbers (a segment
// too large for the version type would silently be dropped otherwise).
std::optional<QVersionNumber> versionNumber(const QString& text)
{
    if (!versionPattern().match(text).hasMatch())
        return std::nullopt;
    qsizetype suffix = 0;
    const QVersionNumber number = QVersionNumber::fromString(text, &suffix);
    if (number.segmentCount() != 3 || suffix != text.size())
        return std::nullopt;
    return number;
}

bool newer(const QString& version, const QString& than)
{
    const std::optional<QVersionNumber> a = versionNumber(version);
    const std::optional<QVersionNumber> b = versionNumber(than);
    return a && b && *a > *b;
}

bool validSize(qint64 size)
{
    return size >= 1 && size <= UpdateService::MaxInstallerBytes;
}

// The first 131,072 code units, without leaving half of a surrogate pair behind.
QString cutNotes(const QString& notes)
{
    qsizetype length = qMin(notes.size(), UpdateService::MaxNotesLength);
    if (length < notes.size() && length > 0 && notes.at(length - 1).isHighSurrogate())
        --length;
    return notes.left(length);
}

bool validInstallerUrl(const QUrl& url, const QString& host, const QString& path)
{
    return url.isValid() && url.scheme() == u"https" && url.host(QUrl::FullyDecoded) == host
           && url.port() == -1 && url.userInfo().isEmpty() && !url.hasQuery()
           && !url.hasFragment() && url.path(QUrl::FullyDecoded) == path;
}

std::optional<QJsonObject> objectOf(const QByteArray& json)
{
    QJsonParseError error;
    const QJsonDocument document = QJsonDocument::fromJson(json, &error);
    if (error.error != QJsonParseError::NoError || !document.isObject())
        return std::nullopt;
    return document.object();
}

} // namespace

std::optional<UpdateRelease> UpdateService::parseMirrorManifest(const QByteArray& json,
                                                                const QString& version)
{
    const std::optional<QJsonObject> manifest = objectOf(json);
    if (!manifest)
        return std::nullopt;
    const QString candidate = manifest->value(u"version").toString();
    if (!versionNumber(candidate) || !newer(candidate, version))
        return std::nullopt;
    const QString fileName = installer_platform::fileName(candidate);
    if (manifest->value(u"filename").toString() != fileName)
        return std::nullopt;
    const QUrl url(manifest->value(u"url").toString(), QUrl::TolerantMode);
    if (!validInstallerUrl(url, QString::fromLatin1(update_hosts::FeedHost),
                           QString::fromLatin1(update_hosts::FeedInstallerFolder) + fileName))
        return std::nullopt;
    const QString digest = manifest->value(u"sha256").toString();
    if (!digestPattern().match(digest).hasMatch())
        return std::nullopt;
    const qint64 size = manifest->value(u"size").toInteger(0);
    if (!validSize(size))
        return std::nullopt;

    UpdateRelease release;
    release.version = candidate;
    release.fileName = fileName;
    release.url = url;
    release.sha256 = digest.toLower().toLatin1();
    release.size = size;
    release.title = manifest->value(u"title").toString();
    release.notes = cutNotes(manifest->value(u"notes").toString());
    release.publishedAt = manifest->value(u"published_at").toString();
    return release;
}

std::optional<UpdateRelease> UpdateService::parseRelease(const QByteArray& json,
                                                         const QString& version)
{
    const std::optional<QJsonObject> object = objectOf(json);
    if (!object)
        return std::nullopt;
    if (object->value(u"draft").toBool(false) || object->value(u"prerelease").toBool(false))
        return std::nullopt;
    const QString tag = object->value(u"tag_name").toString();
    const QString candidate = tag.startsWith(u'v') ? tag.mid(1) : tag;
    if (!versionNumber(candidate) || !newer(candidate, version))
        return std::nullopt;
    const QString fileName = installer_platform::fileName(candidate);

    const QJsonArray assets = object->value(u"assets").toArray();
    const auto asset = std::find_if(assets.begin(), assets.end(), [&](const QJsonValue& value) {
        const QJsonObject a = value.toObject();
        return a.value(u"name").toString() == fileName && a.value(u"state").toString() == u"uploaded";
    });
    if (asset == assets.end())
        return std::nullopt;
    const QJsonObject installer = (*asset).toObject();

    const QString path = QString::fromLatin1(update_hosts::DownloadPath).arg(tag, fileName);
    const QUrl url(installer.value(u"browser_download_url").toString(), QUrl::TolerantMode);
    if (!validInstallerUrl(url, QString::fromLatin1(update_hosts::WebHost), path))
        return std::nullopt;
    const QRegularExpressionMatch digest =
        assetDigestPattern().match(installer.value(u"digest").toString());
    if (!digest.hasMatch())
        return std::nullopt;
    const qint64 size = installer.value(u"size").toInteger(0);
    if (!validSize(size))
        return std::nullopt;

    UpdateRelease release;
    release.version = candidate;
    release.fileName = fileName;
    release.url = url;
    release.sha256 = digest.captured(1).toLower().toLatin1();
    release.size = size;
    release.title = object->value(u"name").toString();
    release.notes = cutNotes(object->value(u"body").toString());
    release.publishedAt = object->value(u"published_at").toString();
    return release;
}

QList<UpdateRelease> UpdateService::parseHistory(const QByteArray& json)
{
    const QJsonDocument document = QJsonDocument::fromJson(json);
    if (!document.isArray())
        return {};
    QList<UpdateRelease> releases;
    const QJsonArray list = document.array();
    for (const QJsonValue& element : list) {
        const QByteArray one = QJsonDocument(element.toObject()).toJson(QJsonDocument::Compact);
        const std::optional<UpdateRelease> release = parseRelease(one, QStringLiteral("0.0.0"));
        if (!release)
            continue;
        const bool seen = std::any_of(releases.begin(), releases.end(), [&](const UpdateRelease& r) {
            return r.version == release->version;
        });
        if (!seen)
            releases.append(*release);
    }
    std::stable_sort(releases.begin(), releases.end(), [](const UpdateRelease& a, const UpdateRelease& b) {
        return QVersionNumber::fromString(a.version) > QVersionNumber::fromString(b.version);
    });
    if (releases.size() > 3)
        releases.resize(3);
    return releases;
}

QList<UpdateRelease> UpdateService::bundledHistory()
{
    QFile file(QStringLiteral(":/releases/history.json"));
    if (!file.open(QIODevice::ReadOnly))
        return {};
    return parseHistory(file.readAll());
}

} // namespace vn
