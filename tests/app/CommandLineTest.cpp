#include "app/CommandLine.h"

#include <QFile>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>

using namespace vn;

namespace {

void writeFile(const QString& path, const QByteArray& bytes)
{
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly));
    QCOMPARE(file.write(bytes), bytes.size());
}

} // namespace

class CommandLineTest : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void optionsAndDefaults();
    void rejectedCommandLines_data();
    void rejectedCommandLines();
    void settingsLocation_data();
    void settingsLocation();
    void portText_data();
    void portText();
    void workspacePort_data();
    void workspacePort();
    void portResolution_data();
    void portResolution();
    void windowOrNot_data();
    void windowOrNot();
    void windowSize_data();
    void windowSize();
};

void CommandLineTest::optionsAndDefaults()
{
    CommandLine line(QStringLiteral("/opt/varnelle/settings.json"));
    QVERIFY(line.parse({QStringLiteral("varnelle")}));
    QCOMPARE(line.settingsPath(), QStringLiteral("/opt/varnelle/settings.json"));
    // The port option always reads as a number; only isSet tells whether it was given.
    QCOMPARE(line.value(line.mcpPort), QStringLiteral("8765"));
    QVERIFY(!line.isSet(line.mcpPort));
    QVERIFY(!line.isSet(line.demo));
    QCOMPARE(line.value(line.view), QString());

    QVERIFY(line.parse({QStringLiteral("varnelle"), QStringLiteral("--settings"), QStringLiteral("/tmp/s.json"),
                        QStringLiteral("--mcp-port=9001"), QStringLiteral("--demo"), QStringLiteral("--view"),
                        QStringLiteral("dark"), QStringLiteral("--screenshot"), QStringLiteral("a.png"),
                        QStringLiteral("--ready-file"), QStringLiteral("r.json"), QStringLiteral("--quit-after"),
                        QStringLiteral("100"), QStringLiteral("--install-skill"), QStringLiteral("codex"),
                        QStringLiteral("--skill-report"), QStringLiteral("out.json"),
                        QStringLiteral("--detect-skill-agents"), QStringLiteral("--window-size"),
                        QStringLiteral("560x640")}));
    QCOMPARE(line.settingsPath(), QStringLiteral("/tmp/s.json"));
    QVERIFY(line.isSet(line.mcpPort));
    QCOMPARE(line.value(line.mcpPort), QStringLiteral("9001"));
    QVERIFY(line.isSet(line.demo));
    QCOMPARE(line.value(line.view), QStringLiteral("dark"));
    QCOMPARE(line.value(line.screenshot), QStringLiteral("a.png"));
    QCOMPARE(line.value(line.readyFile), QStringLiteral("r.json"));
    QCOMPARE(line.value(line.quitAfter), QStringLiteral("100"));
    QCOMPARE(line.value(line.installSkill), QStringLiteral("codex"));
    QCOMPARE(line.value(line.skillReport), QStringLiteral("out.json"));
    QVERIFY(line.isSet(line.detectSkillAgents));
    QCOMPARE(line.value(line.windowSize), QStringLiteral("560x640"));
}

void CommandLineTest::rejectedCommandLines_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::newRow("unknown option") << QStringList{QStringLiteral("--frobnicate")};
    QTest::newRow("missing value") << QStringList{QStringLiteral("--settings")};
    QTest::newRow("value on a switch") << QStringList{QStringLiteral("--demo=yes")};
}

void CommandLineTest::rejectedCommandLines()
{
    QFETCH(QStringList, arguments);
    CommandLine line(QStringLiteral("s.json"));
    QVERIFY(!line.parse(QStringList{QStringLiteral("varnelle")} + arguments));
    QVERIFY(!line.errorText().isEmpty());
}

void CommandLineTest::settingsLocation_data()
{
    QTest::addColumn<bool>("present");
    QTest::addColumn<QByteArray>("installation");
    QTest::addColumn<QString>("localAppData");
    QTest::addColumn<QString>("expected"); // "beside", "local" or "generic"

    QTest::newRow("no installation file") << false << QByteArray() << QString() << "beside";
    QTest::newRow("installed, LOCALAPPDATA set")
        << true << QByteArray(R"({"distribution": "installed"})") << "/data/local" << "local";
    QTest::newRow("installed, LOCALAPPDATA unset")
        << true << QByteArray(R"({"distribution": "installed"})") << QString() << "generic";
    QTest::newRow("portable") << true << QByteArray(R"({"distribution": "portable"})") << "/data/local" << "beside";
    QTest::newRow("wrong letter case")
        << true << QByteArray(R"({"distribution": "Installed"})") << "/data/local" << "beside";
    QTest::newRow("not a string") << true << QByteArray(R"({"distribution": true})") << "/data/local" << "beside";
    QTest::newRow("not JSON") << true << QByteArray("distribution=installed") << "/data/local" << "beside";
    QTest::newRow("array") << true << QByteArray(R"(["installed"])") << "/data/local" << "beside";
    QTest::newRow("empty file") << true << QByteArray() << "/data/local" << "beside";
}

void CommandLineTest::settingsLocation()
{
    QFETCH(bool, present);
    QFETCH(QByteArray, installation);
    QFETCH(QString, localAppData);
    QFETCH(QString, expected);

    QTemporaryDir folder;
    QVERIFY(folder.isValid());
    if (present)
        writeFile(folder.filePath(QStringLiteral("installation.json")), installation);
    if (localAppData.isEmpty())
        qunsetenv("LOCALAPPDATA");
    else
        qputenv("LOCALAPPDATA", localAppData.toUtf8());

    QString wanted = folder.path() + QStringLiteral("/settings.json");
    if (expected == QStringLiteral("local"))
        wanted = localAppData + QStringLiteral("/Varnelle/settings.json");
    else if (expected == QStringLiteral("generic"))
        wanted = QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation)
                 + QStringLiteral("/Varnelle/settings.json");

    QFile handle;
    QCOMPARE(vn::settingsLocation(folder.path(), handle), wanted);
    QCOMPARE(handle.isOpen(), present);
    qunsetenv("LOCALAPPDATA");
}

void CommandLineTest::portText_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<int>("expected"); // -1: refused

    QTest::newRow("highest") << "65535" << 65535;
    QTest::newRow("zero") << "0" << 0;
    QTest::newRow("leading zeros") << "08765" << 8765;
    QTest::newRow("above range") << "65536" << -1;
    QTest::newRow("beyond 32 bits") << "4294967297" << -1;
    QTest::newRow("negative") << "-1" << -1;
    QTest::newRow("plus sign") << "+80" << -1;
    QTest::newRow("word") << "port" << -1;
    QTest::newRow("spaces") << " 80" << -1;
    QTest::newRow("hexadecimal") << "0x50" << -1;
    QTest::newRow("empty") << "" << -1;
}

void CommandLineTest::portText()
{
    QFETCH(QString, text);
    QFETCH(int, expected);
    const std::optional<quint16> port = parsePortText(text);
    QCOMPARE(port.has_value() ? int(*port) : -1, expected);
}

void CommandLineTest::workspacePort_data()
{
    QTest::addColumn<bool>("present");
    QTest::addColumn<QByteArray>("content");
    QTest::addColumn<int>("expected");

    QTest::newRow("no file") << false << QByteArray() << 8765;
    QTest::newRow("port taken") << true << QByteArray(R"({"mcp_port": 9000})") << 9000;
    QTest::newRow("lowest") << true << QByteArray(R"({"mcp_port": 1})") << 1;
    QTest::newRow("highest") << true << QByteArray(R"({"mcp_port": 65535})") << 65535;
    QTest::newRow("zero") << true << QByteArray(R"({"mcp_port": 0})") << 8765;
    QTest::newRow("above range") << true << QByteArray(R"({"mcp_port": 70000})") << 8765;
    QTest::newRow("negative") << true << QByteArray(R"({"mcp_port": -5})") << 8765;
    QTest::newRow("fraction") << true << QByteArray(R"({"mcp_port": 9000.5})") << 8765;
    QTest::newRow("string") << true << QByteArray(R"({"mcp_port": "x"})") << 8765;
    QTest::newRow("number as string") << true << QByteArray(R"({"mcp_port": "9000"})") << 8765;
    QTest::newRow("absent") << true << QByteArray(R"({"views": {}})") << 8765;
    QTest::newRow("not JSON") << true << QByteArray("{mcp_port: 9000") << 8765;
}

void CommandLineTest::workspacePort()
{
    QFETCH(bool, present);
    QFETCH(QByteArray, content);
    QFETCH(int, expected);
    QTemporaryDir folder;
    const QString path = folder.filePath(QStringLiteral("settings.json"));
    if (present)
        writeFile(path, content);
    QCOMPARE(int(vn::workspacePort(path)), expected);
}

void CommandLineTest::portResolution_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<bool>("fixed");
    QTest::addColumn<bool>("valid");
    QTest::addColumn<int>("port");

    QTest::newRow("from the workspace") << QStringList{} << false << true << 9100;
    QTest::newRow("given") << QStringList{QStringLiteral("--mcp-port"), QStringLiteral("65535")} << true << true
                           << 65535;
    QTest::newRow("given zero") << QStringList{QStringLiteral("--mcp-port"), QStringLiteral("0")} << true << true << 0;
    QTest::newRow("given above range") << QStringList{QStringLiteral("--mcp-port"), QStringLiteral("65536")} << true
                                       << false << 0;
    QTest::newRow("given a word") << QStringList{QStringLiteral("--mcp-port"), QStringLiteral("auto")} << true
                                  << false << 0;
}

void CommandLineTest::portResolution()
{
    QFETCH(QStringList, arguments);
    QFETCH(bool, fixed);
    QFETCH(bool, valid);
    QFETCH(int, port);

    QTemporaryDir folder;
    const QString settings = folder.filePath(QStringLiteral("settings.json"));
    writeFile(settings, R"({"mcp_port": 9100})");
    CommandLine line(settings);
    QVERIFY(line.parse(QStringList{QStringLiteral("varnelle")} + arguments));
    const PortChoice choice = resolvePort(line);
    QCOMPARE(choice.fixed, fixed);
    QCOMPARE(choice.valid, valid);
    if (valid)
        QCOMPARE(int(choice.port), port);
}

void CommandLineTest::windowOrNot_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<bool>("window");

    QTest::newRow("nothing") << QStringList{} << true;
    QTest::newRow("preview options") << QStringList{QStringLiteral("--demo"), QStringLiteral("--view=dark")} << true;
    QTest::newRow("usable port") << QStringList{QStringLiteral("--mcp-port"), QStringLiteral("0")} << true;
    QTest::newRow("help") << QStringList{QStringLiteral("--help")} << false;
    QTest::newRow("short help") << QStringList{QStringLiteral("-h")} << false;
    QTest::newRow("all help") << QStringList{QStringLiteral("--help-all")} << false;
    QTest::newRow("version") << QStringList{QStringLiteral("--version")} << false;
    QTest::newRow("short version") << QStringList{QStringLiteral("-v")} << false;
    QTest::newRow("unknown option") << QStringList{QStringLiteral("--fullscreen")} << false;
    QTest::newRow("missing value") << QStringList{QStringLiteral("--settings")} << false;
    QTest::newRow("detection") << QStringList{QStringLiteral("--detect-skill-agents")} << false;
    QTest::newRow("installation") << QStringList{QStringLiteral("--install-skill=codex")} << false;
    QTest::newRow("usable window size") << QStringList{QStringLiteral("--window-size=560x640")} << true;
    QTest::newRow("refused window size") << QStringList{QStringLiteral("--window-size=100000x100000")} << false;
    QTest::newRow("unusable port") << QStringList{QStringLiteral("--mcp-port"), QStringLiteral("65536")} << false;
}

void CommandLineTest::windowOrNot()
{
    QFETCH(QStringList, arguments);
    QFETCH(bool, window);
    QCOMPARE(opensWindow(QStringList{QStringLiteral("varnelle")} + arguments), window);
}

void CommandLineTest::windowSize_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QSize>("size");    // invalid: refused
    QTest::addColumn<QString>("error"); // the start of the message

    const QString malformed = QStringLiteral("无效：需要“宽x高”形式的十进制像素数，例如 560x640");
    const QString small = QStringLiteral("小于窗口的最小尺寸 480x320");
    const QString large = QStringLiteral("过大：宽和高最大为 16384 像素");
    QTest::newRow("width by height") << "560x640" << QSize(560, 640) << QString();
    QTest::newRow("blanks around") << " 720x480 " << QSize(720, 480) << QString();
    QTest::newRow("the window's minimum") << "480x320" << QSize(480, 320) << QString();
    QTest::newRow("the largest") << "16384x16384" << QSize(16384, 16384) << QString();
    QTest::newRow("empty") << "" << QSize() << "--window-size 的值“”" + malformed;
    QTest::newRow("one side") << "560" << QSize() << "--window-size 的值“560”" + malformed;
    QTest::newRow("upper-case X") << "560X640" << QSize() << "--window-size 的值“560X640”" + malformed;
    QTest::newRow("three sides") << "1x2x3" << QSize() << "--window-size 的值“1x2x3”" + malformed;
    QTest::newRow("not numbers") << "wide x high" << QSize() << "--window-size 的值“wide x high”" + malformed;
    QTest::newRow("negative") << "560x-1" << QSize() << "--window-size 的值“560x-1”" + malformed;
    QTest::newRow("plus sign") << "+560x640" << QSize() << "--window-size 的值“+560x640”" + malformed;
    QTest::newRow("fraction") << "560.5x640" << QSize() << "--window-size 的值“560.5x640”" + malformed;
    QTest::newRow("blank inside") << "560 x 640" << QSize() << "--window-size 的值“560 x 640”" + malformed;
    QTest::newRow("no height") << "560x" << QSize() << "--window-size 的值“560x”" + malformed;
    QTest::newRow("zero") << "0x640" << QSize() << "--window-size 的值“0x640”" + small;
    QTest::newRow("narrower than the window") << "479x640" << QSize() << "--window-size 的值“479x640”" + small;
    QTest::newRow("lower than the window") << "560x319" << QSize() << "--window-size 的值“560x319”" + small;
    QTest::newRow("too wide") << "16385x640" << QSize() << "--window-size 的值“16385x640”" + large;
    QTest::newRow("too high") << "560x16385" << QSize() << "--window-size 的值“560x16385”" + large;
    QTest::newRow("both huge") << "100000x100000" << QSize() << "--window-size 的值“100000x100000”" + large;
    QTest::newRow("beyond an int") << "99999999999x640" << QSize() << "--window-size 的值“99999999999x640”" + large;
    QTest::newRow("huge and small") << "100000x1" << QSize() << "--window-size 的值“100000x1”" + large;
}

void CommandLineTest::windowSize()
{
    QFETCH(QString, text);
    QFETCH(QSize, size);
    QFETCH(QString, error);
    const WindowSizeRequest request = readWindowSize(text);
    QCOMPARE(request.error, error);
    QCOMPARE(request.size, size);
}

QTEST_GUILESS_MAIN(CommandLineTest)
#include "CommandLineTest.moc"
