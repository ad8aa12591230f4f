// bench_startup: time from process start to the ready file of the built
// program (its "elapsed_ms"), head-less, with an empty workspace and with a
// large one (64 saved session pages). Prints the median and the best of a few
// runs of each.
//
//   bench_startup [runs]

#include "core/Config.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QHostAddress>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTcpServer>
#include <QTemporaryDir>

#include <algorithm>
#include <cstdio>
#include <vector>

namespace {

quint16 freePort()
{
    QTcpServer server;
    return server.listen(QHostAddress::LocalHost, 0) ? server.serverPort() : 0;
}

// What a session page saves for one connection.
QJsonObject pageSettings(int index)
{
    return QJsonObject{
        {QStringLiteral("tab_title"), QStringLiteral("设备 %1").arg(index)},
        {QStringLiteral("timestamps"), true},
        {QStringLiteral("search_filter"),
         QJsonObject{{QStringLiteral("text"), QStringLiteral("temperature")}, {QStringLiteral("regex"), false},
                     {QStringLiteral("case_sensitive"), false}, {QStringLiteral("whole_word"), false},
                     {QStringLiteral("logical"), false}}},
        {QStringLiteral("hex_display"), index % 3 == 0},
        {QStringLiteral("wrap_lines"), true},
        {QStringLiteral("block_cursor"), true},
        {QStringLiteral("copy_shortcut"), true},
        {QStringLiteral("paste_shortcut"), true},
        {QStringLiteral("right_click_paste"), true},
        {QStringLiteral("encoding"), index % 2 ? QStringLiteral("gbk") : QStringLiteral("utf-8")},
        {QStringLiteral("script_collapsed"), false},
        {QStringLiteral("script_panel_height"), 164},
        {QStringLiteral("sender_sizes"), QJsonArray{600, 150}},
        {QStringLiteral("terminal_mode"), index % 4 == 0},
        {QStringLiteral("script_code"),
         QStringLiteral("int main(byte data[], int length) {\n    if (length < 3) return 0;\n"
                        "    emit(\"value\", data[2]);\n    return 3;\n}\n")},
        {QStringLiteral("script_test_hex"), QStringLiteral("AA 55 C4\n09 E4 0C BC 0D\nAA 55 C4 09 E4 0C BC 0D")},
        {QStringLiteral("script_enabled"), index % 5 == 0},
    };
}

QJsonObject largeWorkspace(quint16 port)
{
    QJsonObject views;
    for (int i = 0; i < 64; ++i) {
        vn::Config config;
        config.port = QStringLiteral("/dev/ttyUSB%1").arg(i);
        config.baudrate = i % 2 ? 115200 : 921600;
        views.insert(config.key(), pageSettings(i));
    }
    return QJsonObject{{QStringLiteral("mcp_port"), port}, {QStringLiteral("views"), views}};
}

// One start to the ready file; -1 when it failed.
qint64 startOnce(const QString& program, const QTemporaryDir& dir, const QJsonObject& workspace, int run)
{
    const QString settings = dir.filePath(QStringLiteral("settings-%1.json").arg(run));
    const QString ready = dir.filePath(QStringLiteral("ready-%1.json").arg(run));
    QFile file(settings);
    if (!file.open(QIODevice::WriteOnly))
        return -1;
    file.write(QJsonDocument(workspace).toJson());
    file.close();

    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    env.insert(QStringLiteral("HOME"), dir.path());
    env.insert(QStringLiteral("XDG_CONFIG_HOME"), dir.filePath(QStringLiteral("config")));
    env.insert(QStringLiteral("XDG_DATA_HOME"), dir.filePath(QStringLiteral("data")));
    env.insert(QStringLiteral("TMPDIR"), dir.path());
    QProcess process;
    process.setProcessEnvironment(env);
    process.start(program, {QStringLiteral("--settings"), settings, QStringLiteral("--ready-file"), ready,
                            QStringLiteral("--quit-after"), QStringLiteral("100")});
    if (!process.waitForFinished(60000)) {
        process.kill();
        process.waitForFinished();
        return -1;
    }
    QFile timing(ready);
    if (!timing.open(QIODevice::ReadOnly))
        return -1;
    return QJsonDocument::fromJson(timing.readAll()).object().value(QStringLiteral("elapsed_ms")).toInteger(-1);
}

void measure(const char* label, const QString& program, const QJsonObject& workspace, int runs)
{
    QTemporaryDir dir;
    std::vector<qint64> times;
    for (int run = 0; run < runs; ++run) {
        const qint64 ms = startOnce(program, dir, workspace, run);
        if (ms < 0) {
            std::printf("%-28s start failed\n", label);
            return;
        }
        times.push_back(ms);
    }
    std::sort(times.begin(), times.end());
    std::printf("%-28s median %4lld ms   best %4lld ms   (%d runs)\n", label,
                static_cast<long long>(times[times.size() / 2]), static_cast<long long>(times.front()), runs);
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    const int runs = argc > 1 ? std::max(1, QString::fromLocal8Bit(argv[1]).toInt()) : 7;
    const QString program = QCoreApplication::applicationDirPath() + QStringLiteral("/varnelle");
    if (!QFile::exists(program)) {
        std::printf("bench_startup: %s not built\n", qPrintable(program));
        return 1;
    }
    // A free port each, so the runs never meet another program on the default one.
    measure("empty workspace", program, QJsonObject{{QStringLiteral("mcp_port"), freePort()}}, runs);
    measure("64 saved session pages", program, largeWorkspace(freePort()), runs);
    std::printf("target: empty workspace under 400 ms\n");
    return 0;
}
