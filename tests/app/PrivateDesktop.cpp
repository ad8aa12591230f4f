#include "tests/app/PrivateDesktop.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QTest>
#include <QtEndian>

#include <bit>
#include <utility>

namespace vn::test {

Owned::Owned(const QString& program, const QStringList& arguments, const QProcessEnvironment& environment,
             const QString& workingDirectory)
    : process(std::make_unique<QProcess>())
{
    process->setProcessEnvironment(environment);
    if (!workingDirectory.isEmpty())
        process->setWorkingDirectory(workingDirectory);
    process->start(program, arguments);
    process->waitForStarted(10000);
}

Owned::~Owned()
{
    if (process->state() != QProcess::NotRunning) {
        process->kill();
        process->waitForFinished(10000);
    }
}

Desktop::Desktop(const ProgramHome& home)
    : frames(home.path(QStringLiteral("xvfb")))
{
    QDir().mkpath(frames);
    QProcessEnvironment plain = home.environment();
    plain.remove(QStringLiteral("QT_QPA_PLATFORM"));
    // The X server, the window manager and its start-up command use the machine's tools.
    plain.insert(QStringLiteral("PATH"), QProcessEnvironment::systemEnvironment().value(QStringLiteral("PATH")));
    // The server names its display itself: no guessing at free numbers.
    server = std::make_unique<Owned>(QStringLiteral("Xvfb"),
                                     QStringList{QStringLiteral("-displayfd"), QStringLiteral("1"),
                                                 QStringLiteral("-screen"), QStringLiteral("0"),
                                                 QStringLiteral("1600x1000x24"), QStringLiteral("-fbdir"), frames,
                                                 QStringLiteral("-nolisten"), QStringLiteral("tcp")},
                                     plain);
    QDeadlineTimer deadline(20000);
    while (!(**server).canReadLine() && !deadline.hasExpired() && (**server).state() == QProcess::Running)
        (**server).waitForReadyRead(200);
    const QByteArray number = (**server).readLine().trimmed();
    if (number.isEmpty())
        return;
    display = QStringLiteral(":") + QString::fromLatin1(number);
    plain.insert(QStringLiteral("DISPLAY"), display);
    environment = plain;

    const QString started = home.path(QStringLiteral("openbox.started"));
    manager = std::make_unique<Owned>(
        QStringLiteral("openbox"), QStringList{QStringLiteral("--startup"), QStringLiteral("touch ") + started},
        environment);
    ready = waitFor([&]() { return QFile::exists(started); });
}

Desktop::~Desktop() = default;

QByteArray Desktop::xdo(const QStringList& arguments, int ms) const
{
    QProcess tool;
    tool.setProcessEnvironment(environment);
    tool.start(QStringLiteral("xdotool"), arguments);
    if (!tool.waitForFinished(ms)) {
        tool.kill();
        tool.waitForFinished();
        return {};
    }
    return tool.exitCode() == 0 ? tool.readAllStandardOutput() : QByteArray();
}

QStringList Desktop::windows(const QString& pattern) const
{
    const QString found = QString::fromUtf8(xdo({QStringLiteral("search"), QStringLiteral("--name"), pattern}));
    return found.split(QLatin1Char('\n'), Qt::SkipEmptyParts);
}

QStringList Desktop::shownWindows(const QString& pattern) const
{
    const QString found = QString::fromUtf8(
        xdo({QStringLiteral("search"), QStringLiteral("--onlyvisible"), QStringLiteral("--name"), pattern}));
    return found.split(QLatin1Char('\n'), Qt::SkipEmptyParts);
}

QRect Desktop::settledGeometry(const QString& window, int ms) const
{
    QRect last;
    QRect now;
    const bool rested = waitFor(
        [&]() {
            last = std::exchange(now, geometry(window));
            return !now.isEmpty() && now == last;
        },
        ms);
    return rested ? now : QRect();
}

QRect Desktop::geometry(const QString& window) const
{
    QRect rect;
    const QString shell =
        QString::fromUtf8(xdo({QStringLiteral("getwindowgeometry"), QStringLiteral("--shell"), window}));
    for (const QString& line : shell.split(QLatin1Char('\n'), Qt::SkipEmptyParts)) {
        const QString name = line.section(QLatin1Char('='), 0, 0);
        const int value = line.section(QLatin1Char('='), 1).toInt();
        if (name == QLatin1String("X"))
            rect.moveLeft(value);
        else if (name == QLatin1String("Y"))
            rect.moveTop(value);
        else if (name == QLatin1String("WIDTH"))
            rect.setWidth(value);
        else if (name == QLatin1String("HEIGHT"))
            rect.setHeight(value);
    }
    return rect;
}

namespace {

QStringList pressSteps(QPoint at, bool moveKey)
{
    QStringList steps{QStringLiteral("mousemove"), QString::number(at.x()), QString::number(at.y()),
                      QStringLiteral("sleep"), QStringLiteral("0.2")};
    if (moveKey)
        steps << QStringLiteral("keydown") << QStringLiteral("alt");
    steps << QStringLiteral("mousedown") << QStringLiteral("1") << QStringLiteral("sleep") << QStringLiteral("0.2");
    return steps;
}

QStringList glideSteps(QPoint from, QPoint to, int count)
{
    QStringList steps;
    for (int step = 1; step <= count; ++step) {
        const QPoint at = from + (to - from) * step / count;
        steps << QStringLiteral("mousemove") << QString::number(at.x()) << QString::number(at.y())
              << QStringLiteral("sleep") << QStringLiteral("0.05");
    }
    return steps;
}

QStringList releaseSteps(bool moveKey)
{
    QStringList steps{QStringLiteral("sleep"), QStringLiteral("0.3"), QStringLiteral("mouseup"), QStringLiteral("1")};
    if (moveKey)
        steps << QStringLiteral("keyup") << QStringLiteral("alt");
    return steps;
}

} // namespace

void Desktop::drag(QPoint from, QPoint to, bool moveKey) const
{
    xdo(pressSteps(from, moveKey) + glideSteps(from, to, 24) + releaseSteps(moveKey));
}

void Desktop::press(QPoint at, bool moveKey) const
{
    xdo(pressSteps(at, moveKey));
}

void Desktop::glide(QPoint from, QPoint to, int steps) const
{
    xdo(glideSteps(from, to, steps));
}

void Desktop::release(bool moveKey) const
{
    xdo(releaseSteps(moveKey));
}

void Desktop::click(QPoint at) const
{
    // A short rest on the spot lets the widget see the mouse arrive before the press.
    xdo({QStringLiteral("mousemove"), QString::number(at.x()), QString::number(at.y()), QStringLiteral("sleep"),
         QStringLiteral("0.15"), QStringLiteral("click"), QStringLiteral("1")});
}

void Desktop::type(const QString& text, int delayMs) const
{
    xdo({QStringLiteral("type"), QStringLiteral("--delay"), QString::number(delayMs), text});
}

void Desktop::key(const QString& keys) const
{
    xdo({QStringLiteral("key"), keys});
}

QImage Desktop::screen() const
{
    QFile file(frames + QStringLiteral("/Xvfb_screen0"));
    return file.open(QIODevice::ReadOnly) ? readXwd(file.readAll()) : QImage();
}

QImage readXwd(const QByteArray& bytes)
{
    // The header is 25 big-endian 32-bit fields, followed by the window name
    // (up to header_size), then `ncolors` colour entries of 12 bytes each.
    constexpr qsizetype fields = 25;
    if (bytes.size() < fields * 4)
        return {};
    const auto* raw = reinterpret_cast<const uchar*>(bytes.constData());
    const auto field = [raw](int index) { return qFromBigEndian<quint32>(raw + index * 4); };
    const quint32 headerSize = field(0);
    const quint32 version = field(1);
    const quint32 format = field(2);
    const quint32 width = field(4);
    const quint32 height = field(5);
    const quint32 byteOrder = field(7);
    const quint32 bitsPerPixel = field(11);
    const quint32 bytesPerLine = field(12);
    const quint32 masks[3] = {field(14), field(15), field(16)};
    const quint32 colours = field(19);
    constexpr quint32 zPixmap = 2;
    if (version != 7 || format != zPixmap || (bitsPerPixel != 24 && bitsPerPixel != 32) || width == 0
        || height == 0 || width > 16384 || height > 16384 || bytesPerLine < width * (bitsPerPixel / 8)
        || masks[0] == 0 || masks[1] == 0 || masks[2] == 0)
        return {};
    const qint64 offset = qint64(headerSize) + qint64(colours) * 12;
    if (offset < fields * 4 || offset + qint64(bytesPerLine) * height > bytes.size())
        return {};

    const int step = int(bitsPerPixel / 8);
    const bool mostFirst = byteOrder == 1;
    QImage image(int(width), int(height), QImage::Format_RGB32);
    for (quint32 y = 0; y < height; ++y) {
        const uchar* line = raw + offset + qint64(y) * bytesPerLine;
        auto* out = reinterpret_cast<QRgb*>(image.scanLine(int(y)));
        for (quint32 x = 0; x < width; ++x) {
            const uchar* at = line + qint64(x) * step;
            quint32 pixel = 0;
            for (int b = 0; b < step; ++b)
                pixel |= quint32(at[mostFirst ? b : step - 1 - b]) << (8 * (step - 1 - b));
            int channel[3];
            for (int c = 0; c < 3; ++c) {
                const quint32 value = (pixel & masks[c]) >> std::countr_zero(masks[c]);
                const quint32 top = masks[c] >> std::countr_zero(masks[c]);
                channel[c] = int(value * 255 / top);
            }
            out[x] = qRgb(channel[0], channel[1], channel[2]);
        }
    }
    return image;
}

bool waitFor(const std::function<bool()>& condition, int ms)
{
    const QDeadlineTimer deadline(ms);
    while (!condition()) {
        if (deadline.hasExpired())
            return false;
        QTest::qWait(100);
    }
    return true;
}

} // namespace vn::test
