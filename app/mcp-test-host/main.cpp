// mcp-test-host: runs an Engine and an McpServer without any window, so that
// MCP clients can be tested against the real server.
//
//   mcp-test-host --port N [--allow-ai-control] [--demo]
//
// Prints the server's URL as the first line on standard output once it
// listens, and runs until killed or until standard input closes. Lines on
// standard input change the switches a window would own:
//   allow-ai-control on|off
//   protocol serial|tcp|udp|ssh on|off
// each answered by one line, "ok" or "error: <message>".
// Like the program, it serves only clients of the user it runs as; how many
// others it refused goes to standard error, one line a minute at most.

#include "core/Engine.h"
#include "core/Fail.h"
#include "mcp/McpServer.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QSocketNotifier>

#include <cstdio>
#include <exception>
#include <unistd.h>

namespace {

void say(const QString& line)
{
    const QByteArray bytes = line.toUtf8() + '\n';
    std::fwrite(bytes.constData(), 1, static_cast<size_t>(bytes.size()), stdout);
    std::fflush(stdout);
}

bool switchValue(const QString& word, bool* value)
{
    if (word == QLatin1String("on"))
        *value = true;
    else if (word == QLatin1String("off"))
        *value = false;
    else
        return false;
    return true;
}

void command(vn::Engine& engine, vn::McpServer& server, const QString& line)
{
    const QStringList words = line.simplified().split(QLatin1Char(' '), Qt::SkipEmptyParts);
    if (words.isEmpty())
        return;
    bool on = false;
    try {
        if (words.size() == 2 && words[0] == QLatin1String("allow-ai-control") && switchValue(words[1], &on)) {
            engine.allowAiControl = on;
        } else if (words.size() == 3 && words[0] == QLatin1String("protocol") && switchValue(words[2], &on)) {
            server.setProtocolEnabled(words[1], on);
        } else {
            say(QStringLiteral("error: unknown command"));
            return;
        }
        say(QStringLiteral("ok"));
    } catch (const std::exception& error) {
        say(QStringLiteral("error: ") + vn::errorText(error));
    }
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("mcp-test-host"));

    QCommandLineParser parser;
    parser.addHelpOption();
    const QCommandLineOption portOption(QStringLiteral("port"), QStringLiteral("Port to listen on (0: any free port)."),
                                        QStringLiteral("N"), QStringLiteral("0"));
    const QCommandLineOption aiOption(QStringLiteral("allow-ai-control"), QStringLiteral("Start with AI control allowed."));
    const QCommandLineOption demoOption(QStringLiteral("demo"), QStringLiteral("Open the two built-in demo channels."));
    parser.addOptions({portOption, aiOption, demoOption});
    parser.process(app);

    bool ok = false;
    const uint port = parser.value(portOption).toUInt(&ok);
    if (!ok || port > 65535) {
        std::fprintf(stderr, "mcp-test-host: --port needs a number from 0 to 65535\n");
        return 2;
    }

    vn::Engine engine;
    engine.allowAiControl = parser.isSet(aiOption);
    vn::McpServer server(&engine);
    if (parser.isSet(demoOption)) {
        engine.waveformDemo();
        engine.structuredDemo();
    }
    if (!server.start(static_cast<quint16>(port))) {
        std::fprintf(stderr, "mcp-test-host: %s\n", server.lastError.toLocal8Bit().constData());
        return 1;
    }
    QObject::connect(&server, &vn::McpServer::refusalNoted, &app, [](const QString& note) {
        std::fprintf(stderr, "mcp-test-host: %s\n", note.toLocal8Bit().constData());
    });
    say(server.url());

    QByteArray pending;
    QSocketNotifier input(STDIN_FILENO, QSocketNotifier::Read);
    QObject::connect(&input, &QSocketNotifier::activated, &app, [&] {
        char chunk[4096];
        const ssize_t got = ::read(STDIN_FILENO, chunk, sizeof chunk);
        if (got <= 0) {
            input.setEnabled(false);
            QCoreApplication::quit();
            return;
        }
        pending.append(chunk, static_cast<qsizetype>(got));
        qsizetype end;
        while ((end = pending.indexOf('\n')) >= 0) {
            command(engine, server, QString::fromUtf8(pending.left(end)));
            pending.remove(0, end + 1);
        }
    });
    return app.exec();
}
