// A slider with automatic sending dragged from 0 to 100 in 1,000 steps, one
// step per millisecond, to a serial port at 115,200 baud (a pty pair through
// socat; the loopback port when socat is missing). Prints how many packets
// went out, how many value changes were folded into later packets, and the
// longest time a value waited for the packet that carried it.
#include "core/Channel.h"
#include "core/Engine.h"
#include "ui/controls/CanvasGeometry.h"
#include "ui/controls/ControlPacket.h"
#include "ui/controls/SerialControlPanel.h"

#include <QApplication>
#include <QDeadlineTimer>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QJsonArray>
#include <QProcess>
#include <QTemporaryDir>
#include <QTimer>

#include <fcntl.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>

using namespace vn;

namespace {

struct Pair {
    QTemporaryDir dir;
    QProcess socat;
    QString a = dir.filePath(QStringLiteral("ttyA"));
    QString b = dir.filePath(QStringLiteral("ttyB"));
    bool start()
    {
        socat.start(QStringLiteral("socat"), {QStringLiteral("pty,raw,echo=0,link=%1").arg(a),
                                              QStringLiteral("pty,raw,echo=0,link=%1").arg(b)});
        if (!socat.waitForStarted(3000))
            return false;
        QDeadlineTimer deadline(5000);
        while (!deadline.hasExpired() && !(QFileInfo::exists(a) && QFileInfo::exists(b)))
            QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
        return QFileInfo::exists(a) && QFileInfo::exists(b);
    }
    ~Pair()
    {
        if (socat.state() != QProcess::NotRunning) {
            socat.kill();
            socat.waitForFinished(3000);
        }
    }
};

} // namespace

int main(int argc, char** argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);

    constexpr int kBaud = 115200;
    constexpr int kSteps = 1000;
    Pair pair;
    const bool pty = pair.start();
    Engine engine;
    Config config;
    config.port = pty ? pair.a : QStringLiteral("loop://");
    config.baudrate = kBaud;
    Channel* channel = engine.open(config);
    if (channel->state != QLatin1String("connected")) {
        std::printf("could not open %s\n", qPrintable(config.port));
        return 1;
    }
    int reader = -1;
    if (pty) {
        reader = ::open(pair.b.toLocal8Bit().constData(), O_RDWR | O_NOCTTY | O_NONBLOCK);
        termios t{};
        ::tcgetattr(reader, &t);
        ::cfmakeraw(&t);
        ::tcsetattr(reader, TCSANOW, &t);
    }

    QJsonObject slider = defaultControl(QStringLiteral("slider"));
    slider.insert(QStringLiteral("auto_send"), true);
    slider.insert(QStringLiteral("step"), 0.1);
    slider.insert(QStringLiteral("decimals"), 1);
    SerialControlPanel panel;
    panel.restore({{QStringLiteral("groups"),
                    QJsonArray{QJsonObject{{QStringLiteral("id"), QStringLiteral("g")},
                                           {QStringLiteral("name"), QStringLiteral("G")},
                                           {QStringLiteral("controls"), QJsonArray{slider}}}}}});
    panel.resize(800, 600);
    panel.show();
    panel.setChannel(channel);
    SerialControlPanel::Row* row = panel.controlRows().front().get();

    QElapsedTimer clock;
    clock.start();
    std::vector<qint64> changedAt;
    std::vector<qint64> sentAt;
    qint64 bytes = 0;
    QObject::connect(&panel.controlSender(), &ControlSender::packetSent, &panel, [&](const QByteArray& packet) {
        sentAt.push_back(clock.nsecsElapsed());
        bytes += packet.size();
    });

    qint64 received = 0;
    auto drain = [&] {
        char buffer[4096];
        while (reader >= 0) {
            const ssize_t n = ::read(reader, buffer, sizeof buffer);
            if (n <= 0)
                break;
            received += n;
        }
    };

    int step = 0;
    QTimer drag;
    drag.setTimerType(Qt::PreciseTimer);
    QObject::connect(&drag, &QTimer::timeout, &drag, [&] {
        ++step;
        changedAt.push_back(clock.nsecsElapsed());
        panel.valueChanged(row, fixedText(step * 100.0 / kSteps, 1));
        drain();
        if (step == kSteps)
            drag.stop();
    });
    drag.start(1);
    QDeadlineTimer deadline(60000);
    while ((drag.isActive() || row->pending) && !deadline.hasExpired())
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
    const qint64 dragNs = clock.nsecsElapsed();
    QDeadlineTimer settle(5000);
    while (reader >= 0 && received < bytes && !settle.hasExpired()) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
        drain();
    }

    // A value waits until the first packet sent at or after its change: that
    // packet carries it or a later value.
    qint64 longest = 0;
    std::size_t next = 0;
    for (qint64 t : changedAt) {
        while (next < sentAt.size() && sentAt[next] < t)
            ++next;
        if (next < sentAt.size())
            longest = std::max(longest, sentAt[next] - t);
    }
    const std::size_t sent = sentAt.size();
    std::printf("slider drag 0..100 in %d steps at %d baud over %s\n", kSteps, kBaud,
                pty ? "a socat pty pair" : "the loopback port");
    std::printf("  drag time           %8.1f ms\n", double(dragNs) / 1e6);
    std::printf("  value changes       %8zu\n", changedAt.size());
    std::printf("  packets sent        %8zu (%lld bytes, %lld received)\n", sent, static_cast<long long>(bytes),
                static_cast<long long>(pty ? received : bytes));
    std::printf("  packets coalesced   %8zu\n", changedAt.size() - sent);
    std::printf("  longest value wait  %8.1f ms\n", double(longest) / 1e6);
    std::printf("  final value         %8s\n", qPrintable(row->control.value(QStringLiteral("value")).toString()));
    if (reader >= 0)
        ::close(reader);
    return 0;
}
