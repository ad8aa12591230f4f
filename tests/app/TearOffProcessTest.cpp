#include "tests/app/PrivateDesktop.h"
#include "tests/app/ProgramRun.h"
#include "tests/mcp/HttpClient.h"
#include "tests/support/TestSupport.h"
#include "ui/kit/MoveEndWatcher.h"

#include <QPoint>
#include <QRect>
#include <QStandardPaths>
#include <QTest>

using namespace vn::test;

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
    const quint16 port = freeTcpPort();
    Owned program(programPath(),
                  {QStringLiteral("--settings"), home.workspace(QStringLiteral("settings.json"), port),
                   QStringLiteral("--demo"), QStringLiteral("--ready-file"), ready},
                  environment);
    QVERIFY(waitFor([&]() { return QFile::exists(ready); }, 60000));
    QStringList roots;
    QVERIFY(waitFor([&]() { return !(roots = desktop.windows(QStringLiteral("^Varnelle · Native"))).isEmpty(); }));
    const QString root = roots.first();
    desktop.xdo({QStringLiteral("windowactivate"), QStringLiteral("--sync"), root});
    const QRect main = desktop.settledGeometry(root);
    QVERIFY2(main.width() > 700, qPrintable(QStringLiteral("%1x%2").arg(main.width()).arg(main.height())));

    // The first tab ("新收发页") sits just right of the rail and the sidebar.
    const QPoint firstTab = main.topLeft() + QPoint(360, 27);
    const QPoint released = firstTab + QPoint(160, 320);
    const QString torn = QStringLiteral("^新收发页 · Varnelle$");
    QVERIFY(desktop.windows(torn).isEmpty());

    // Out of the tab bar and far enough to tear, then the button stays down
    // until the program has made the window and handed its move to the
    // window manager: a busy program may take its time over either.
    desktop.press(firstTab);
    QPoint at = firstTab + (released - firstTab) / 4;
    desktop.glide(firstTab, at, 6);
    QStringList tornWindows;
    QVERIFY2(waitFor([&]() { return !(tornWindows = desktop.shownWindows(torn)).isEmpty(); }, 60000),
             "dragging the tab out made no window of its own");
    const QString window = tornWindows.first();
    const QRect placed = desktop.settledGeometry(window);
    QVERIFY2(!placed.isEmpty(), "the torn-off window did not come to rest");
    // Before the window manager carries the window, a nudge of the mouse
    // leaves it where it is; once it does, the window follows the nudge. The
    // nudge goes up: the window hangs below and right of the mouse, and its
    // right edge may rest on the screen's, where the window manager holds it
    // against small moves across that edge. How soon the carrying begins
    // depends on the program's speed: it may begin during the glide above,
    // and the first motion it sees may move the window by more than the
    // mouse moved.
    const QPoint out = at;
    const QPoint nudge(0, -12);
    bool nudged = false;
    QVERIFY2(waitFor(
                 [&]() {
                     const QPoint next = out + (nudged ? QPoint() : nudge);
                     desktop.glide(at, next, 1);
                     at = next;
                     nudged = !nudged;
                     return desktop.geometry(window).topLeft() != placed.topLeft();
                 },
                 60000),
             "the torn-off window does not follow the mouse");
    // Carried, it follows the mouse step for step.
    const QRect before = desktop.settledGeometry(window);
    const QPoint step = at == out ? nudge : -nudge;
    desktop.glide(at, at + step, 1);
    at += step;
    const QRect after = desktop.settledGeometry(window);
    QVERIFY2(!before.isEmpty() && after.topLeft() - before.topLeft() == step,
             qPrintable(QStringLiteral("the window moved from %1,%2 to %3,%4 as the mouse moved by %5,%6")
                            .arg(before.x())
                            .arg(before.y())
                            .arg(after.x())
                            .arg(after.y())
                            .arg(step.x())
                            .arg(step.y())));
    desktop.glide(at, released, 18);

    // The window followed the mouse: once the window manager has carried out
    // the last motion, its top left lies near the release point.
    QRect moved;
    const QRect expected(released - QPoint(300, 200), QSize(600, 400));
    waitFor([&]() { return expected.contains((moved = desktop.geometry(window)).topLeft()); }, 20000);
    QVERIFY2(expected.contains(moved.topLeft()), qPrintable(QStringLiteral("window at %1,%2").arg(moved.x()).arg(moved.y())));

    // Let go away from any tab bar, it stays a window of its own. The program
    // ends a move once the window has rested for its settle time with no
    // button held; an answer of its MCP server before and after that time
    // shows its event loop came past the end of the move.
    desktop.release();
    moved = desktop.settledGeometry(window);
    QVERIFY(!moved.isEmpty());
    QVERIFY(!initialize(port).isEmpty());
    QTest::qWait(vn::MoveEndWatcher::SettleMs);
    QVERIFY(!initialize(port).isEmpty());
    QCOMPARE(desktop.windows(torn).size(), 1);

    // Moved by the window manager (Alt and drag, as by its title bar) and
    // dropped with the cursor on the main window's tabs, it docks the page back.
    desktop.xdo({QStringLiteral("windowactivate"), QStringLiteral("--sync"), window});
    const QPoint grip = moved.topLeft() + QPoint(moved.width() / 2, moved.height() / 2);
    desktop.drag(grip, main.topLeft() + QPoint(520, 27), true);
    QVERIFY2(waitFor([&]() { return desktop.windows(torn).isEmpty(); }, 60000),
             "the window dropped on the tab bar did not dock back");
    QCOMPARE((*program).state(), QProcess::Running);
}

QTEST_GUILESS_MAIN(TearOffProcessTest)
#include "TearOffProcessTest.moc"
