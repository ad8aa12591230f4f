#include "app/VarnelleMCP/StdioBridge.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QUrl>

#include <csignal>
#include <cstdio>

int main(int argc, char* argv[])
{
    // A reader that goes away must not kill the bridge before it ends the session.
    std::signal(SIGPIPE, SIG_IGN);
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("VarnelleMCP"));

    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral("Varnelle MCP 标准输入输出桥接程序"));
    parser.addHelpOption();
    const QCommandLineOption urlOption(QStringLiteral("url"), QStringLiteral("MCP 服务地址"), QStringLiteral("URL"));
    parser.addOption(urlOption);
    if (!parser.parse(app.arguments())) {
        std::fprintf(stderr, "%s\n", parser.errorText().toLocal8Bit().constData());
        return 2;
    }
    if (parser.isSet(QStringLiteral("help")))
        parser.showHelp(0);
    const QUrl url(parser.value(urlOption), QUrl::StrictMode);
    if (!url.isValid() || (url.scheme() != QLatin1String("http") && url.scheme() != QLatin1String("https"))
        || url.host().isEmpty()) {
        std::fprintf(stderr, "%s\n", QStringLiteral("需要有效的 MCP 服务地址：--url http://127.0.0.1:端口/mcp").toLocal8Bit().constData());
        return 2;
    }

    vn::StdioBridge bridge(url, 0, 1);
    QObject::connect(&bridge, &vn::StdioBridge::finished, &app, &QCoreApplication::exit, Qt::QueuedConnection);
    bridge.start();
    return app.exec();
}
