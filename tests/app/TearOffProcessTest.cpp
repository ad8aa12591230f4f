#include "tests/app/PrivateDesktop.h"
#include "tests/app/ProgramRun.h"
#include "tests/support/TestSupport.h"

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
