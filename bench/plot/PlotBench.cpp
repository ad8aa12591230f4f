// Waveform plot benchmarks.
//
//   bench_plot                 compare: our full redraw and the reference
//                              program's (QCustomPlot replot, QPainter min/max)
//                              in turns, each in its own process, pinned to one
//                              core with the same allocator settings; then the
//                              idle tick
//   bench_plot redraw [n] [png] median of n full redraws (after 5 warm-up) of
//                              16 curves x 5,000 points into 1920x1080
//   bench_plot idle [ticks]    a tick of 32 peers x 16 fields with nothing new
//
// The data are the reference program's, point for point.
#include "core/Channel.h"
#include "core/Engine.h"
#include "ui/plot/WavePlot.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QJsonArray>
#include <QProcess>
#include <QRegularExpression>

#include <sched.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <vector>

using namespace vn;

namespace {

constexpr int Width = 1920;
constexpr int Height = 1080;
constexpr int Curves = 16;
constexpr int Points = 5000;
const char* const Tunables = "glibc.malloc.mmap_threshold=33554432:glibc.malloc.trim_threshold=1073741824";

double median(std::vector<double> v)
{
    std::sort(v.begin(), v.end());
    const std::size_t n = v.size();
    return n % 2 ? v[n / 2] : (v[n / 2 - 1] + v[n / 2]) / 2;
}

QString loadAverage()
{
    QFile file(QStringLiteral("/proc/loadavg"));
    if (!file.open(QIODevice::ReadOnly))
        return QStringLiteral("?");
    return QString::fromLatin1(file.readAll()).section(QLatin1Char(' '), 0, 2);
}

QString curveName(int k)
{
    return QStringLiteral("c%1").arg(k, 2, 10, QLatin1Char('0'));
}

// The reference program's curves: sines with noise from the same xorshift.
QJsonObject referenceSamples()
{
    std::vector<std::vector<double>> ys(Curves, std::vector<double>(Points));
    quint64 s = 0x853C49E6748FEA9Bull;
    auto rnd = [&] {
        s ^= s << 13;
        s ^= s >> 7;
        s ^= s << 17;
        return double(s >> 11) / 9007199254740992.0;
    };
    for (int k = 0; k < Curves; ++k) {
        const double amp = 1.0 + k * 0.15;
        const double freq = 1 + k * 0.7;
        const double off = (k - Curves / 2) * 0.8;
        for (int i = 0; i < Points; ++i)
            ys[k][i] = off + amp * std::sin(2 * M_PI * freq * i / Points) + (rnd() - 0.5) * 0.6 * amp;
    }
    QJsonArray samples;
    for (int i = 0; i < Points; ++i) {
        QJsonObject values;
        for (int k = 0; k < Curves; ++k)
            values.insert(curveName(k), ys[k][i]);
        samples.append(QJsonObject{{"index", i}, {"values", values}});
    }
    return {{"sources", QJsonObject{{"default", QJsonObject{{"samples", samples}}}}}};
}

int redraw(int redraws, const QString& png)
{
    WavePlot plot;
    plot.resize(Width, Height);
    plot.setSamples(referenceSamples());
    for (int k = 0; k < Curves; ++k)
        plot.setCurveStyle(curveName(k), {QColor::fromHsv((k * 360 / Curves) % 360, 200, 220), 1.0, 1});
    if (plot.curves().size() != Curves || plot.curves().first().size() != Points) {
        std::fprintf(stderr, "unexpected data\n");
        return 1;
    }
    std::vector<double> ms;
    for (int i = 0; i < 5 + redraws; ++i) {
        QElapsedTimer timer;
        timer.start();
        plot.rebuildImage();
        const double dt = double(timer.nsecsElapsed()) / 1e6;
        if (i >= 5)
            ms.push_back(dt);
    }
    if (!png.isEmpty())
        plot.renderedImage().save(png);
    std::printf("SUMMARY plot variant=varnelle redraws=%d median=%.2f min=%.2f max=%.2f ms\n", redraws, median(ms),
                *std::min_element(ms.begin(), ms.end()), *std::max_element(ms.begin(), ms.end()));
    // The same without curves: background, grid, ticks and labels only.
    QJsonArray hidden;
    for (int k = 0; k < Curves; ++k)
        hidden.append(curveName(k));
    plot.restorePresentation({{"hidden", hidden}});
    std::vector<double> frame;
    for (int i = 0; i < 5 + redraws; ++i) {
        QElapsedTimer timer;
        timer.start();
        plot.rebuildImage();
        if (i >= 5)
            frame.push_back(double(timer.nsecsElapsed()) / 1e6);
    }
    std::printf("frame only (no curves): median %.2f ms\n", median(frame));
    return 0;
}

int idle(int ticks)
{
    Engine engine;
    Config config;
    config.port = QStringLiteral("loop://");
    auto* channel = new Channel(&engine, config);
    QByteArray lines;
    for (int i = 0; i < 200; ++i) {
        lines += "@wave ";
        for (int k = 0; k < Curves; ++k)
            lines += QByteArray(k ? "," : "") + "f" + QByteArray::number(k) + "=" + QByteArray::number(i % 17 + k);
        lines += "\n";
    }
    for (int p = 0; p < 32; ++p) {
        const QString peer = QStringLiteral("10.0.0.%1:5000").arg(p + 1);
        for (int r = 0; r < 25; ++r)   // 5,000 samples per peer: the queue is full
            channel->receive(lines, peer);
    }
    WavePlot plot;
    plot.resize(Width, Height);
    plot.updateChannel(channel, 5000);
    std::vector<double> ms;
    int changed = 0;
    for (int round = 0; round < 50; ++round) {
        QElapsedTimer timer;
        timer.start();
        for (int i = 0; i < ticks; ++i)
            changed += plot.updateChannel(channel, 5000);
        ms.push_back(double(timer.nsecsElapsed()) / 1e6 / ticks);
    }
    std::printf("SUMMARY plot idle tick peers=32 curves=%lld median=%.4f min=%.4f ms (changed %d)\n",
                static_cast<long long>(plot.curves().size()), median(ms), *std::min_element(ms.begin(), ms.end()),
                changed);
    return 0;
}

// Runs one measurement in a child process and returns its median in ms.
double child(const QString& program, const QStringList& arguments)
{
    QProcess process;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    environment.insert(QStringLiteral("GLIBC_TUNABLES"), QString::fromLatin1(Tunables));
    process.setProcessEnvironment(environment);
    process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    process.start(program, arguments);
    if (!process.waitForFinished(300000))
        return -1;
    const QString out = QString::fromLocal8Bit(process.readAllStandardOutput());
    static const QRegularExpression figure(QStringLiteral("median=([0-9.]+)"));
    const QRegularExpressionMatch match = figure.match(out);
    return match.hasMatch() ? match.captured(1).toDouble() : -1;
}

int compare(int rounds)
{
    // Every child inherits the affinity: all figures come from the same core.
    cpu_set_t set;
    CPU_ZERO(&set);
    const int cores = int(sysconf(_SC_NPROCESSORS_ONLN));
    const int core = qEnvironmentVariableIsSet("VN_BENCH_CORE") ? qEnvironmentVariableIntValue("VN_BENCH_CORE")
                                                                 : std::max(0, cores - 1);
    CPU_SET(core, &set);
    sched_setaffinity(0, sizeof(set), &set);
    const QString self = QCoreApplication::applicationFilePath();
    const QString reference = QCoreApplication::applicationDirPath() + QStringLiteral("/plot_reference");
    const bool haveReference = QFile::exists(reference);
    std::printf("load average before: %s; core %d; GLIBC_TUNABLES=%s\n", qPrintable(loadAverage()), core, Tunables);
    if (!haveReference)
        std::printf("plot_reference not built (QCustomPlot missing): our figure only\n");
    std::vector<double> ours;
    std::vector<double> qcp;
    std::vector<double> minmax;
    for (int r = 0; r < rounds; ++r) {
        ours.push_back(child(self, {QStringLiteral("redraw"), QStringLiteral("50")}));
        if (!haveReference)
            continue;
        qcp.push_back(child(reference, {QStringLiteral("qcp-replot"), QStringLiteral("50")}));
        minmax.push_back(child(reference, {QStringLiteral("qp-minmax"), QStringLiteral("50")}));
        std::printf("round %d: varnelle %.2f ms, qcp-replot %.2f ms, qp-minmax %.2f ms\n", r + 1, ours.back(),
                    qcp.back(), minmax.back());
        std::fflush(stdout);
    }
    const double o = median(ours);
    std::printf("full redraw 16 x 5,000 points, 1920x1080 (median of %d rounds of 50 redraws):\n", rounds);
    std::printf("  varnelle    %.2f ms\n", o);
    if (haveReference) {
        const double q = median(qcp);
        const double m = median(minmax);
        std::printf("  qcp-replot  %.2f ms   (varnelle / qcp-replot = %.2f)\n", q, o / q);
        std::printf("  qp-minmax   %.2f ms   (varnelle / qp-minmax  = %.2f)\n", m, o / m);
    }
    std::fflush(stdout);
    QProcess process;
    process.setProcessChannelMode(QProcess::ForwardedChannels);
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    environment.insert(QStringLiteral("GLIBC_TUNABLES"), QString::fromLatin1(Tunables));
    process.setProcessEnvironment(environment);
    process.start(self, {QStringLiteral("idle")});
    process.waitForFinished(300000);
    std::printf("load average after: %s\n", qPrintable(loadAverage()));
    return 0;
}

} // namespace

int main(int argc, char** argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    const QStringList args = app.arguments().mid(1);
    const QString mode = args.value(0, QStringLiteral("compare"));
    if (mode == QLatin1String("redraw"))
        return redraw(args.value(1, QStringLiteral("50")).toInt(), args.value(2));
    if (mode == QLatin1String("idle"))
        return idle(args.value(1, QStringLiteral("1000")).toInt());
    if (mode == QLatin1String("compare"))
        return compare(args.value(1, QStringLiteral("3")).toInt());
    std::fprintf(stderr, "usage: bench_plot [compare [rounds] | redraw [n] [png] | idle [ticks]]\n");
    return 2;
}
