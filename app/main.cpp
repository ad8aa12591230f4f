#include "core/Version.h"

#include <QCoreApplication>
#include <QTextStream>

// The desktop window is not built yet; the engine, transports and the MCP server
// are exercised by the test programs. Until the window lands, say so and stop.
int main(int argc, char* argv[])
{
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("Varnelle"));
    QCoreApplication::setApplicationVersion(QString::fromLatin1(vn::Version));
    QTextStream(stdout) << QStringLiteral("Varnelle %1：主窗口尚未完成，当前版本只提供引擎与测试程序。\n")
                               .arg(QCoreApplication::applicationVersion());
    return 0;
}
