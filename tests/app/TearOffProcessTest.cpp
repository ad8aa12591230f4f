#include "tests/app/ProgramRun.h"
#include "tests/support/TestSupport.h"

#include <QDeadlineTimer>
#include <QPoint>
#include <QProcess>
#include <QRect>
#include <QStandardPaths>
#include <QTest>

#include <memory>

using namespace vn::test;

namespace {

// A process this test started; killed by its own id when the object goes.
class Owned {
public:
    Owned(const QString& program, const QStringList& arguments, const QProcessEnvironment& environment)
        : process(std::make_unique<QProcess>())
    {
        process->setProcessEnvironment(environment);
        process->start(program, arguments);
        process->waitForStarted(10000);
    }
    ~Owned()
    {
        if (process->state() != QProcess::NotRunning) {
            process->kill();
            process->waitForFinished(10000);
        }
    }
    Owned(const Owned&) = delete;
    Owned& operator=(const Owned&) = delete;

    QProcess& operator*() { return *process; }
    QProcess* operator->() { return process.get(); }

private:
    std::unique_ptr<QProcess> process;
};

// A private X display with a window manager; everything started here ends here.
class Desktop {
public:
    explicit Desktop(const ProgramHome& home)
    {
        QProcessEnvironment plain = home.environment();
        plain.remove(QStringLiteral("QT_QPA_PLATFORM"));
        // The X server, the window manager and its start-up command use the machine's tools.
        plain.insert(QStringLiteral("PATH"), QProcessEnvironment::systemEnvironment().value(QStringLiteral("PATH")));
        // The server names its display itself: no guessing at free numbers.
        server = std::make_unique<Owned>(QStringLiteral("Xvfb"),
                                         QStringList{QStringLiteral("-displayfd"), QStringLiteral("1"),
                                                     QStringLiteral("-screen"), QStringLiteral("0"),
                                                     QStringLiteral("1600x1000x24"), QStringLiteral("-nolisten"),
                                                     QStringLiteral("tcp")},
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
            QStringLiteral("openbox"),
            QStringList{QStringLiteral("--startup"), QStringLiteral("touch ") + started}, environment);
        deadline = QDeadlineTimer(20000);
        while (!QFile::exists(started) && !deadline.hasExpired())
            QTest::qWait(50);
        ready = QFile::exists(started);
    }

    // Runs xdotool with these arguments; its output, or empty on failure.
    QByteArray xdo(const QStringList& arguments, int ms = 20000) const
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

    // The window ids whose title matches the pattern.
    QStringList windows(const QString& pattern) const
    {
        const QString found = QString::fromUtf8(xdo({QStringLiteral("search"), QStringLiteral("--name"), pattern}));
        return found.split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    }

    QRect geometry(const QString& window) const
    {
        QRect rect;
        const QString shell = QString::fromUtf8(
            xdo({QStringLiteral("getwindowgeometry"), QStringLiteral("--shell"), window}));
        for (const QString& line : shell.split(QLatin1Char('\n'), Qt::SkipEmptyParts)) {
            const QString key = line.section(QLatin1Char('='), 0, 0);
            const int value = line.section(QLatin1Char('='), 1).toInt();
            if (key == QLatin1String("X"))
                rect.moveLeft(value);
            else if (key == QLatin1String("Y"))
                rect.moveTop(value);
            else if (key == QLatin1String("WIDTH"))
                rect.setWidth(value);
            else if (key == QLatin1String("HEIGHT"))
                rect.setHeight(value);
        }
        return rect;
    }

    // Presses the left button at `from` (with the window manager's move key
    // held when `moveKey`), carries the mouse to `to` in small steps, as a hand
    // would, and lets go.
    void drag(QPoint from, QPoint to, bool moveKey = false) const
    {
        QStringList steps{QStringLiteral("mousemove"), QString::number(from.x()), QString::number(from.y()),
                          QStringLiteral("sleep"), QStringLiteral("0.2")};
        if (moveKey)
            steps << QStringLiteral("keydown") << QStringLiteral("alt");
        steps << QStringLiteral("mousedown") << QStringLiteral("1") << QStringLiteral("sleep") << QStringLiteral("0.2");
        constexpr int count = 24;
        for (int step = 1; step <= count; ++step) {
            const QPoint at = from + (to - from) * step / count;
            steps << QStringLiteral("mousemove") << QString::number(at.x()) << QString::number(at.y())
                  << QStringLiteral("sleep") << QStringLiteral("0.05");
        }
        steps << QStringLiteral("sleep") << QStringLiteral("0.3") << QStringLiteral("mouseup") << QStringLiteral("1");
        if (moveKey)
            steps << QStringLiteral("keyup") << QStringLiteral("alt");
        xdo(steps);
    }

    QString display;
    QProcessEnvironment environment;
    bool ready = false;

private:
    std::unique_ptr<Owned> server;
    std::unique_ptr<Owned> manager;
};

bool waitFor(const std::function<bool()>& condition, int ms = 20000)
{
    QDeadlineTimer deadline(ms);
    while (!condition()) {
        if (deadline.hasExpired())
            return false;
        QTest::qWait(100);
    }
    return true;
}

} // namespace

// A real mouse drags a tab out of the main window into a window of its own,
// and the title bar of that window is dragged back onto the main window's tabs.
class TearOffProcessTest : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void dragATabOutAndBack();
};

void TearOffProcessTest::dragATabOutAndBack()
{
    for (const char* tool : {"Xvfb", "openbox", "xdotool"}) {
        if (QStandardPaths::findExecutable(QString::fromLatin1(tool)).isEmpty())
            QSKIP(qPrintable(QStringLiteral("%1 is not installed").arg(QString::fromLatin1(tool))));
    }
    ProgramHome home;
    Desktop desktop(home);
    QVERIFY2(desktop.ready, "the X server or the window manager did not start");

    QProcessEnvironment environment = desktop.environment;
    environment.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("xcb"));
    environment.insert(QStringLiteral("PATH"), home.bin());
    const QString ready = home.path(QStringLiteral("ready.json"));
    Owned program(programPath(),
                  {QStringLiteral("--settings"), home.workspace(QStringLiteral("settings.json"), freeTcpPort()),
                   QStringLiteral("--demo"), QStringLiteral("--ready-file"), ready},
                  environment);
    QVERIFY(waitFor([&]() { return QFile::exists(ready); }, 60000));
    QStringList roots;
    QVERIFY(waitFor([&]() { return !(roots = desktop.windows(QStringLiteral("^Varnelle · Native"))).isEmpty(); }));
    const QString root = roots.first();
    desktop.xdo({QStringLiteral("windowactivate"), QStringLiteral("--sync"), root});
    const QRect main = desktop.geometry(root);
    QVERIFY2(main.width() > 700, qPrintable(QStringLiteral("%1x%2").arg(main.width()).arg(main.height())));

    // The first tab ("新收发页") sits just right of the rail and the sidebar.
    const QPoint firstTab = main.topLeft() + QPoint(360, 27);
    const QString torn = QStringLiteral("^新收发页 · Varnelle$");
    QVERIFY(desktop.windows(torn).isEmpty());
    desktop.drag(firstTab, firstTab + QPoint(160, 320));
    QStringList tornWindows;
    QVERIFY2(waitFor([&]() { return !(tornWindows = desktop.windows(torn)).isEmpty(); }),
             "dragging the tab out made no window of its own");
    // The new window followed the mouse: its top left lies near the release point.
    const QRect moved = desktop.geometry(tornWindows.first());
    const QPoint released = firstTab + QPoint(160, 320);
    QVERIFY2(QRect(released - QPoint(300, 200), QSize(600, 400)).contains(moved.topLeft()),
             qPrintable(QStringLiteral("window at %1,%2").arg(moved.x()).arg(moved.y())));
    // Let go away from any tab bar, it stays a window of its own.
    QTest::qWait(800);
    QCOMPARE(desktop.windows(torn).size(), 1);

    // Moved by the window manager (Alt and drag, as by its title bar) and
    // dropped with the cursor on the main window's tabs, it docks the page back.
    desktop.xdo({QStringLiteral("windowactivate"), QStringLiteral("--sync"), tornWindows.first()});
    const QPoint grip = moved.topLeft() + QPoint(moved.width() / 2, moved.height() / 2);
    desktop.drag(grip, main.topLeft() + QPoint(520, 27), true);
    QVERIFY2(waitFor([&]() { return desktop.windows(torn).isEmpty(); }),
             "the window dropped on the tab bar did not dock back");
    QCOMPARE((*program).state(), QProcess::Running);
}

QTEST_GUILESS_MAIN(TearOffProcessTest)
#include "TearOffProcessTest.moc"
