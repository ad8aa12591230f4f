#pragma once

// What every release the updater accepts must be, whichever source it came from.

#include "tests/fuzz/FuzzSupport.h"
#include "ui/update/InstallerPlatform.h"
#include "ui/update/UpdateService.h"

#include <QRegularExpression>
#include <QVersionNumber>

namespace vn::fuzz {

inline void checkRelease(const UpdateRelease& release, const QString& current, const char* host)
{
    static const QRegularExpression version(QStringLiteral("\\A[0-9]+\\.[0-9]+\\.[0-9]+\\z"));
    static const QRegularExpression digest(QStringLiteral("\\A[0-9a-f]{64}\\z"));
    if (!version.match(release.version).hasMatch())
        broken("accepted version is not three numbers");
    if (!(QVersionNumber::fromString(release.version) > QVersionNumber::fromString(current)))
        broken("accepted version is not newer");
    if (release.fileName != installer_platform::fileName(release.version))
        broken("accepted installer name does not follow the version");
    if (release.url.scheme() != QLatin1String("https") || release.url.host() != QLatin1String(host)
        || release.url.port() != -1 || !release.url.userInfo().isEmpty() || release.url.hasQuery()
        || release.url.hasFragment() || !release.url.path().endsWith(QLatin1Char('/') + release.fileName))
        broken("accepted download address is not the expected host and file");
    if (!digest.match(QString::fromLatin1(release.sha256)).hasMatch())
        broken("accepted digest is not 64 lower-case hexadecimal digits");
    if (release.size < 1 || release.size > UpdateService::MaxInstallerBytes)
        broken("accepted size out of range");
    if (release.notes.size() > UpdateService::MaxNotesLength)
        broken("notes longer than the limit");
    // A lone surrogate the source sent is its own text; only our cut may not make one.
    if (release.notes.size() >= UpdateService::MaxNotesLength - 1 && release.notes.back().isHighSurrogate())
        broken("notes cut inside a surrogate pair");
}

// The version the running program claims, chosen by one input byte.
inline QString currentVersion(std::uint8_t choice)
{
    static const QString versions[] = {QStringLiteral("0.0.0"), QStringLiteral("0.15.32"), QStringLiteral("1.2.3"),
                                       QStringLiteral("9.9.9")};
    return versions[choice % 4];
}

} // namespace vn::fuzz
