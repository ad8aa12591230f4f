#pragma once

// The widget application of the fuzz targets that drive windows, pages and
// plots, and the temporary folder they work in.

#include <QApplication>
#include <QFile>
#include <QTemporaryDir>

#include <cstdlib>

namespace vn::fuzz {

// A temporary folder for the whole run: the home of the widgets and the place
// of every file a target writes.
inline QTemporaryDir& scratchFolder()
{
    static QTemporaryDir folder;
    return folder;
}

// Widgets want a QApplication, made before anything asks for the plain one of
// FuzzSupport.h. HOME and the XDG folders point into the scratch folder, so
// looks at SSH profiles and agent tools find an empty home on every run and
// nothing is written beside the real one. The application is never destroyed:
// Qt's font caches hang off it, and tearing it down in static destruction
// leaves those caches to the leak check.
inline void ensureWidgets()
{
    if (QCoreApplication::instance())
        return;
    const QByteArray folder = QFile::encodeName(scratchFolder().path());
    qputenv("HOME", folder);
    qputenv("XDG_CONFIG_HOME", folder + "/config");
    qputenv("XDG_CACHE_HOME", folder + "/cache");
    qputenv("XDG_DATA_HOME", folder + "/data");
    qputenv("XDG_RUNTIME_DIR", folder);
    qputenv("QT_QPA_PLATFORM", "offscreen");
    static int argc = 1;
    static char name[] = "vn-fuzz";
    static char* argv[] = {name, nullptr};
    new QApplication(argc, argv);
    if (!std::getenv("VN_FUZZ_SHOW"))
        qInstallMessageHandler([](QtMsgType, const QMessageLogContext&, const QString&) {});
}

} // namespace vn::fuzz
