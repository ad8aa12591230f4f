#include "app/Startup.h"

#include "app/CommandLine.h"
#include "app/HeadlessModes.h"
#include "app/PreviewOptions.h"
#include "app/SingleInstance.h"
#include "core/Engine.h"
#include "core/Version.h"
#include "mcp/McpServer.h"
#include "platform/UserName.h"
#include "ui/agents/BuiltinGuides.h"
#include "ui/kit/Theme.h"
#include "ui/kit/WindowChrome.h"
#include "ui/window/Window.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QIcon>
#include <QPointer>
#include <QTimer>

#include <cstdio>
#include <optional>

namespace vn {

namespace {

// A run that ends before any window (help, version, a rejected command line,
// the skill modes run by installers and scripts) needs no display: without
// one, the default platform would abort the process before it could answer.
void withoutDisplayWhenNoWindow(int argc, char** argv)
{
    if (qEnvironmentVariableIsSet("QT_QPA_PLATFORM"))
        return;
    QStringList arguments;
    for (int i = 0; i < argc; ++i)
        arguments << QString::fromLocal8Bit(argv[i]);
    if (!opensWindow(arguments))
        qputenv("QT_QPA_PLATFORM", "offscreen");
}

void setIdentity()
{
    QApplication::setApplicationName(QStringLiteral("Varnelle"));
    QApplication::setApplicationVersion(QString::fromLatin1(Version));
    QApplication::setStyle(QStringLiteral("Fusion"));
    QApplication::setFont(Theme::interfaceFont());
    QApplication::setWindowIcon(QIcon(QStringLiteral(":/brand/lightning.svg")));
}

HeadlessRequest headlessRequest(const CommandLine& line)
{
    HeadlessRequest request;
    request.detect = line.isSet(line.detectSkillAgents);
    request.install = line.isSet(line.installSkill);
    request.agent = line.value(line.installSkill);
    request.report = line.isSet(line.skillReport);
    request.reportPath = line.value(line.skillReport);
    return request;
}

PreviewRequest previewRequest(const CommandLine& line)
{
    PreviewRequest request;
    request.demo = line.isSet(line.demo);
    request.view = line.value(line.view);
    request.screenshot = line.value(line.screenshot);
    request.readyFile = line.value(line.readyFile);
    request.quitAfter = line.isSet(line.quitAfter);
    request.quitAfterMs = line.value(line.quitAfter);
    request.windowSize = line.value(line.windowSize);
    return request;
}

// The windowed program, from the engine to the end of the event loop. Its
// locals are destroyed in reverse: preview target, window, server, engine.
int runWindow(const QElapsedTimer& clock, const CommandLine& line, const PortChoice& port,
              SingleInstance& instance)
{
    Engine engine;
    McpServer server(&engine);
    if (port.fixed)
        server.start(port.port);
    else
        server.startAvailable(port.port);

    Window window(&engine, &server, line.settingsPath(), nullptr);
    // The workspace records the port actually taken when the wanted one was busy.
    if (!port.fixed && server.isListening())
        window.saveSettings();

    Window* root = &window;
    instance.onActivation(root, [root] {
        root->showNormal();
        root->checkAgentEndpoints();
        root->raise();
        root->activateWindow();
    });

    window.show();
    QTimer::singleShot(0, root, [root] { root->checkAgentEndpoints(); });

    QPointer<Window> previewTarget = root;
    const PreviewRequest preview = previewRequest(line);
    if (preview.demo)
        openDemo(window);
    armPreviewSteps(window, preview, clock, previewTarget);

    return QApplication::exec();
}

} // namespace

int qMain(int argc, char** argv)
{
    QElapsedTimer clock;
    clock.start();

    withoutDisplayWhenNoWindow(argc, argv);
    QApplication app(argc, argv);
    setIdentity();
    installWindowChrome();

    QFile installation;
    const QString defaultSettings = settingsLocation(QApplication::applicationDirPath(), installation);

    CommandLine line(defaultSettings);
    line.process(app);

    if (const std::optional<int> code = runHeadlessMode(headlessRequest(line), &AgentEnvironment::current,
                                                        builtinGuides()))
        return *code;

    const PortChoice port = resolvePort(line);
    if (!port.valid)
        return 2;
    if (line.isSet(line.windowSize)) {
        if (const QString refused = readWindowSize(line.value(line.windowSize)).error; !refused.isEmpty()) {
            std::fputs(qPrintable(refused + QLatin1Char('\n')), stderr);
            return 2;
        }
    }

    SingleInstance instance;
    const std::optional<quint16> fixedPort = port.fixed ? std::optional<quint16>(port.port) : std::nullopt;
    if (instance.activateRunning(SingleInstance::name(userName(), fixedPort, line.settingsPath())))
        return 0;

    return runWindow(clock, line, port, instance);
}

} // namespace vn
