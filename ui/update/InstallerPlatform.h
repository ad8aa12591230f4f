#pragma once

#include <QString>

// What the installer of this platform is called and how user texts name the platform.
// The one place to change when the program is packaged for another system; the build
// reads the name pattern from this file for the built-in release list.
namespace vn::installer_platform {

// A self-contained Linux program; %1 is the release version.
inline constexpr char FileNamePattern[] = "Varnelle-%1-linux-x86_64.AppImage";
// Shown where the release notes and the roll-back page name the installer's platform.
inline constexpr char Label[] = "Linux x86_64";

inline QString fileName(const QString& version)
{
    return QString::fromLatin1(FileNamePattern).arg(version);
}

} // namespace vn::installer_platform
