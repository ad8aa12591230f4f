#pragma once

#include <QCommandLineOption>
#include <QCommandLineParser>
#include <QSize>
#include <QString>

#include <optional>

class QCoreApplication;
class QFile;

namespace vn {

// The program's command line: the ten options in their documented order, the
// window size of previews, help and version. Reading an option goes through the public option records.
class CommandLine {
public:
    // `defaultSettings` is what --settings means when it is not given.
    explicit CommandLine(const QString& defaultSettings);

    // Reads the application's arguments. An unknown option or a missing value
    // prints the parser's message and ends the process with 1; --help and
    // --version print and end it with 0.
    void process(const QCoreApplication& app);
    // The same over a plain argument list (the first one is the program); false
    // with errorText() set when the parser rejects it. For tests.
    bool parse(const QStringList& arguments);
    QString errorText() const { return parser.errorText(); }

    QString settingsPath() const { return parser.value(settings); }
    bool isSet(const QCommandLineOption& option) const { return parser.isSet(option); }
    bool isSet(const QString& name) const { return parser.isSet(name); }
    QString value(const QCommandLineOption& option) const { return parser.value(option); }

    const QCommandLineOption mcpPort;
    const QCommandLineOption settings;
    const QCommandLineOption demo;
    const QCommandLineOption view;
    const QCommandLineOption screenshot;
    const QCommandLineOption readyFile;
    const QCommandLineOption quitAfter;
    const QCommandLineOption installSkill;
    const QCommandLineOption skillReport;
    const QCommandLineOption detectSkillAgents;
    // Our own preview addition, for looking at narrow windows.
    const QCommandLineOption windowSize;

private:
    QCommandLineParser parser;
};

// Whether a run with these arguments (the program first) gets as far as the
// window: not when the parser rejects them, for help and version, for the
// head-less modes, nor for an unusable --mcp-port or --window-size. Read
// before the application object exists.
bool opensWindow(const QStringList& arguments);

// Where the workspace settings file lives when --settings is not given:
// "settings.json" beside the executable, or, when "installation.json" there
// says the program was installed, "Varnelle/settings.json" under the user's
// local application data. `installation` is left open on that file when it
// exists, so the caller can hold it for the life of the process.
QString settingsLocation(const QString& executableFolder, QFile& installation);

// The MCP port the command line asks for.
struct PortChoice {
    quint16 port = 8765;
    bool fixed = false;   // given with --mcp-port: no fall-back to another port
    bool valid = true;    // false: --mcp-port is not a number from 0 to 65535
};

// --mcp-port when given, else the workspace's "mcp_port" (1..65535), else 8765.
PortChoice resolvePort(const CommandLine& line);

// An unsigned decimal number (digits only) up to 65535, or nothing.
std::optional<quint16> parsePortText(const QString& text);

// The "mcp_port" of a workspace file; 8765 when the file cannot be read or the
// value is missing, not a whole number or outside 1..65535.
quint16 workspacePort(const QString& settingsPath);

// The largest side --window-size accepts: beyond it a window's buffers no
// longer fit in memory, and painting them fails.
constexpr int MaxWindowSide = 16384;

// What --window-size asks for: "WIDTHxHEIGHT" in decimal pixels (blanks
// around it ignored), each side from the window's own minimum up to
// MaxWindowSide. `error` is the message that refuses any other text; `size`
// is valid only when it is empty.
struct WindowSizeRequest {
    QSize size;
    QString error;
};
WindowSizeRequest readWindowSize(const QString& text);

} // namespace vn
