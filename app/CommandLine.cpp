#include "app/CommandLine.h"

#include "ui/window/WindowLimits.h"

#include <QCoreApplication>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QJsonValue>
#include <QStandardPaths>

#include <cmath>

namespace vn {

namespace {

constexpr quint16 DefaultPort = 8765;

QCommandLineOption option(const char* name, const char* description, const char* valueName = nullptr,
                          const QString& defaultValue = {})
{
    if (!valueName)
        return QCommandLineOption(QString::fromLatin1(name), QString::fromLatin1(description));
    return QCommandLineOption(QString::fromLatin1(name), QString::fromLatin1(description),
                              QString::fromLatin1(valueName), defaultValue);
}

} // namespace

CommandLine::CommandLine(const QString& defaultSettings)
    : mcpPort(option("mcp-port", "Local MCP port", "port", QString::number(DefaultPort)))
    , settings(option("settings", "Settings file", "path", defaultSettings))
    , demo(option("demo", "Show generated example data"))
    , view(option("view",
                  "Preview waveform, json, xml, settings, dark, search, terminal, ssh, detached, floating-wave, "
                  "narrow or protocol",
                  "name"))
    , screenshot(option("screenshot", "Save window preview", "path"))
    , readyFile(option("ready-file", "Write startup timing", "path"))
    , quitAfter(option("quit-after", "Close after milliseconds", "ms"))
    , installSkill(option("install-skill",
                          "Install the bundled skill for codex/claude-code/opencode/pi/hermes/openclaw/grok/gemini "
                          "without opening the GUI",
                          "agent"))
    , skillReport(option("skill-report", "Write the skill installation result to a JSON file", "path"))
    , detectSkillAgents(option("detect-skill-agents",
                               "Detect installed skill-capable Agents without opening the GUI; write INI to "
                               "--skill-report"))
    , windowSize(option("window-size", "Start the window at this size, e.g. 560x640", "WIDTHxHEIGHT"))
{
    parser.addHelpOption();
    parser.addVersionOption();
    parser.addOptions({mcpPort, settings, demo, view, screenshot, readyFile, quitAfter, installSkill, skillReport,
                       detectSkillAgents, windowSize});
}

void CommandLine::process(const QCoreApplication& app)
{
    parser.process(app);
}

bool CommandLine::parse(const QStringList& arguments)
{
    return parser.parse(arguments);
}

bool opensWindow(const QStringList& arguments)
{
    CommandLine line{QString()};
    if (!line.parse(arguments))
        return false;
    for (const char* name : {"help", "help-all", "version"}) {
        if (line.isSet(QString::fromLatin1(name)))
            return false;
    }
    if (line.isSet(line.detectSkillAgents) || line.isSet(line.installSkill))
        return false;
    if (line.isSet(line.windowSize) && !readWindowSize(line.value(line.windowSize)).error.isEmpty())
        return false;
    return !line.isSet(line.mcpPort) || parsePortText(line.value(line.mcpPort)).has_value();
}

WindowSizeRequest readWindowSize(const QString& text)
{
    WindowSizeRequest request;
    const QString given = text.trimmed();
    const QStringList sides = given.split(QLatin1Char('x'));
    // Digits only: no sign, no blanks inside, no other separator.
    const auto side = [](const QString& digits) -> std::optional<int> {
        if (digits.isEmpty())
            return std::nullopt;
        for (const QChar c : digits) {
            if (c < QLatin1Char('0') || c > QLatin1Char('9'))
                return std::nullopt;
        }
        // Longer than any sane side: counted as too large, not as malformed.
        if (digits.size() > 9)
            return MaxWindowSide + 1;
        return digits.toInt();
    };
    const std::optional<int> width = sides.size() == 2 ? side(sides.at(0)) : std::nullopt;
    const std::optional<int> height = sides.size() == 2 ? side(sides.at(1)) : std::nullopt;
    if (!width || !height) {
        request.error = QStringLiteral("--window-size 的值“%1”无效：需要“宽x高”形式的十进制像素数，例如 560x640")
                            .arg(text);
    } else if (*width > MaxWindowSide || *height > MaxWindowSide) {
        request.error = QStringLiteral("--window-size 的值“%1”过大：宽和高最大为 %2 像素").arg(given).arg(MaxWindowSide);
    } else if (*width < MinimumWindowSize.width() || *height < MinimumWindowSize.height()) {
        request.error = QStringLiteral("--window-size 的值“%1”小于窗口的最小尺寸 %2x%3")
                            .arg(given)
                            .arg(MinimumWindowSize.width())
                            .arg(MinimumWindowSize.height());
    } else {
        request.size = QSize(*width, *height);
    }
    return request;
}

QString settingsLocation(const QString& executableFolder, QFile& installation)
{
    const QString beside = executableFolder + QStringLiteral("/settings.json");
    installation.setFileName(executableFolder + QStringLiteral("/installation.json"));
    if (!installation.open(QIODevice::ReadOnly))
        return beside;
    const QJsonDocument document = QJsonDocument::fromJson(installation.readAll());
    if (!document.isObject()
        || document.object().value(QStringLiteral("distribution")) != QJsonValue(QStringLiteral("installed")))
        return beside;
    // An installed program may not write beside itself: the workspace goes to
    // the user's local application data, or where this platform keeps it.
    // An empty variable counts as unset rather than naming the root folder.
    QString base = qEnvironmentVariable("LOCALAPPDATA");
    if (base.isEmpty())
        base = QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation);
    return base + QStringLiteral("/Varnelle/settings.json");
}

std::optional<quint16> parsePortText(const QString& text)
{
    if (text.isEmpty())
        return std::nullopt;
    for (const QChar c : text) {
        if (c < QLatin1Char('0') || c > QLatin1Char('9'))
            return std::nullopt;
    }
    bool ok = false;
    const uint value = text.toUInt(&ok, 10);
    if (!ok || value > 65535)
        return std::nullopt;
    return static_cast<quint16>(value);
}

quint16 workspacePort(const QString& settingsPath)
{
    QFile file(settingsPath);
    if (!file.open(QIODevice::ReadOnly))
        return DefaultPort;
    const QJsonValue value = QJsonDocument::fromJson(file.readAll()).object().value(QStringLiteral("mcp_port"));
    if (!value.isDouble())
        return DefaultPort;
    const double number = value.toDouble();
    if (std::floor(number) != number || number < 1 || number > 65535)
        return DefaultPort;
    return static_cast<quint16>(number);
}

PortChoice resolvePort(const CommandLine& line)
{
    PortChoice choice;
    if (line.isSet(line.mcpPort)) {
        choice.fixed = true;
        const std::optional<quint16> port = parsePortText(line.value(line.mcpPort));
        choice.valid = port.has_value();
        choice.port = port.value_or(0);
        return choice;
    }
    choice.port = workspacePort(line.settingsPath());
    return choice;
}

} // namespace vn
