#include "ui/kit/IconButton.h"
#include "ui/window/ParameterGrip.h"

#include "WorkspaceFixture.h"

#include <QScrollArea>
#include <QTest>

using namespace vn;
using vn::test::WorkspaceFixture;

namespace {

// The width the workspace file holds, or -1 while there is no file.
int fileWidth(const WorkspaceFixture& fixture)
{
    return fixture.fileAppearance().value(QStringLiteral("parameter_width")).toInt(-1);
}

} // namespace

// Setting the sidebar width with the grip on its edge.
class ParameterGripTest : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void init();
    void cleanup();
    void looksAndReachesLikeAHandle();
    void dragSetsTheWidthAndWritesOnRelease();
    void dragStopsAtTheNarrowest();
    void dragStopsWhereThePagesNeedRoom();
    void keys_data();
    void keys();
    void keysStartFromTheShownWidth();
    void otherKeysAreLeftAlone();
    void rightButtonDoesNotDrag();
    void doubleClickResets();
    void everyWindowTakesTheWidth();
    void narrowWindowShowsLessThanTheWidth();
    void hiddenSidebarHidesTheGrip();

private:
    void press(Qt::MouseButton button = Qt::LeftButton);
    void moveBy(int dx);
    void release(int dx);

    std::unique_ptr<WorkspaceFixture> fixture;
    Window* window = nullptr;
    ParameterGrip* grip = nullptr;
    QScrollArea* scroll = nullptr;
    QPoint start;
    QPoint pressGlobal;
};

void ParameterGripTest::init()
{
    fixture = std::make_unique<WorkspaceFixture>();
    window = fixture->open();
    window->resize(1400, 900);
    window->show();
    QVERIFY(QTest::qWaitForWindowExposed(window));
    grip = window->findChild<ParameterGrip*>(QStringLiteral("parameterGrip"));
    scroll = window->findChild<QScrollArea*>(QStringLiteral("parameterScroll"));
    QVERIFY(grip);
    QVERIFY(scroll);
    QTRY_COMPARE(scroll->width(), 246);
    start = QPoint(grip->width() / 2, grip->height() / 2);
}

void ParameterGripTest::cleanup()
{
    fixture.reset();
    window = nullptr;
}

void ParameterGripTest::press(Qt::MouseButton button)
{
    pressGlobal = grip->mapToGlobal(start);
    QTest::mousePress(grip, button, Qt::NoModifier, start);
}

void ParameterGripTest::moveBy(int dx)
{
    // The mouse moves on the screen; the grip follows the sidebar's edge, so
    // the point is counted from where the button went down, not from the grip.
    const QPoint global = pressGlobal + QPoint(dx, 0);
    QMouseEvent move(QEvent::MouseMove, QPointF(grip->mapFromGlobal(global)), QPointF(global), Qt::NoButton,
                     Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(grip, &move);
}

void ParameterGripTest::release(int dx)
{
    QTest::mouseRelease(grip, Qt::LeftButton, Qt::NoModifier, start + QPoint(dx, 0));
}

void ParameterGripTest::looksAndReachesLikeAHandle()
{
    QCOMPARE(grip->width(), 8);
    QCOMPARE(grip->cursor().shape(), Qt::SplitHCursor);
    QCOMPARE(grip->focusPolicy(), Qt::TabFocus);
    QCOMPARE(grip->accessibleName(), QStringLiteral("连接参数栏宽度"));
    QCOMPARE(grip->toolTip(),
             QStringLiteral("拖动调整连接参数栏宽度，双击恢复默认\n方向键微调，Shift 加速，Home 恢复默认"));
    QVERIFY(grip->isVisible());

    // Idle it is drawn faintly; while dragged in the accent colour.
    const QImage idle = grip->grab().toImage();
    press();
    const QImage dragged = grip->grab().toImage();
    release(0);
    const int middle = grip->width() / 2;
    const int y = grip->height() / 2;
    QCOMPARE(dragged.pixelColor(middle, 2).rgb(), window->theme.accent.rgb());
    QCOMPARE(dragged.pixelColor(middle - 1, y).rgb(), window->theme.accent.rgb());
    QVERIFY(idle.pixelColor(middle, 2).rgb() != window->theme.accent.rgb());
}

void ParameterGripTest::dragSetsTheWidthAndWritesOnRelease()
{
    press();
    QVERIFY(grip->isDragging());
    moveBy(60);
    QCOMPARE(window->parameterWidth, 306);
    moveBy(150);
    QCOMPARE(window->parameterWidth, 396);
    QCOMPARE(scroll->width(), 396);
    QCOMPARE(fileWidth(*fixture), -1);

    release(150);
    QVERIFY(!grip->isDragging());
    QCOMPARE(fileWidth(*fixture), 396);

    // After the release, moving the mouse changes nothing.
    moveBy(300);
    QCOMPARE(window->parameterWidth, 396);
}

void ParameterGripTest::dragStopsAtTheNarrowest()
{
    press();
    moveBy(-1000);
    QCOMPARE(window->parameterWidth, 220);
    QCOMPARE(scroll->width(), 220);
    release(-1000);
    QCOMPARE(fileWidth(*fixture), 220);
}

void ParameterGripTest::dragStopsWhereThePagesNeedRoom()
{
    // 1400 wide: the central area less the 54 px rail, 320 px for the pages and
    // the grip leaves 1018 px for the sidebar.
    const int limit = window->centralWidget()->width() - 54 - 320 - 8;
    press();
    moveBy(3000);
    QCOMPARE(window->parameterWidth, limit);
    release(3000);
    QCOMPARE(fileWidth(*fixture), limit);
}

void ParameterGripTest::keys_data()
{
    QTest::addColumn<int>("key");
    QTest::addColumn<Qt::KeyboardModifiers>("modifiers");
    QTest::addColumn<int>("width");
    QTest::newRow("Shift+Left") << int(Qt::Key_Left) << Qt::KeyboardModifiers(Qt::ShiftModifier) << 260;
    QTest::newRow("Left") << int(Qt::Key_Left) << Qt::KeyboardModifiers() << 290;
    QTest::newRow("Right") << int(Qt::Key_Right) << Qt::KeyboardModifiers() << 310;
    QTest::newRow("Shift+Right") << int(Qt::Key_Right) << Qt::KeyboardModifiers(Qt::ShiftModifier) << 340;
    QTest::newRow("Home") << int(Qt::Key_Home) << Qt::KeyboardModifiers() << 246;
}

void ParameterGripTest::keys()
{
    QFETCH(int, key);
    QFETCH(Qt::KeyboardModifiers, modifiers);
    QFETCH(int, width);
    window->resizeParameters(300);
    QCOMPARE(window->parameterWidth, 300);
    QCOMPARE(fileWidth(*fixture), -1);

    grip->setFocus(Qt::TabFocusReason);
    QTest::keyClick(grip, Qt::Key(key), modifiers);
    QCOMPARE(window->parameterWidth, width);
    QCOMPARE(scroll->width(), width);
    QCOMPARE(fileWidth(*fixture), width);
}

void ParameterGripTest::keysStartFromTheShownWidth()
{
    // A stored width the window cannot show, as a file from a wider screen holds.
    window->parameterWidth = 4096;
    window->arrangeParameters();
    const int shown = scroll->width();
    QVERIFY(shown < 4096);
    grip->setFocus(Qt::TabFocusReason);
    QTest::keyClick(grip, Qt::Key_Left);
    QCOMPARE(scroll->width(), shown - 10);
    QCOMPARE(window->parameterWidth, shown - 10);
    QCOMPARE(fileWidth(*fixture), shown - 10);
    QTest::keyClick(grip, Qt::Key_Right, Qt::ShiftModifier);
    QCOMPARE(scroll->width(), shown);
}

void ParameterGripTest::otherKeysAreLeftAlone()
{
    QTest::keyClick(grip, Qt::Key_Up);
    QTest::keyClick(grip, Qt::Key_End);
    QCOMPARE(window->parameterWidth, 246);
    QCOMPARE(fileWidth(*fixture), -1);

    // Left from the narrowest stays there, and is still written.
    window->resizeParameters(225);
    QTest::keyClick(grip, Qt::Key_Left);
    QCOMPARE(window->parameterWidth, 220);
    QCOMPARE(fileWidth(*fixture), 220);
}

void ParameterGripTest::rightButtonDoesNotDrag()
{
    press(Qt::RightButton);
    QVERIFY(!grip->isDragging());
    moveBy(150);
    QCOMPARE(window->parameterWidth, 246);
    QTest::mouseRelease(grip, Qt::RightButton, Qt::NoModifier, start + QPoint(150, 0));
    QCOMPARE(fileWidth(*fixture), -1);
}

void ParameterGripTest::doubleClickResets()
{
    window->resizeParameters(400);
    QMouseEvent doubleClick(QEvent::MouseButtonDblClick, QPointF(start), QPointF(grip->mapToGlobal(start)),
                            Qt::LeftButton, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(grip, &doubleClick);
    QCOMPARE(window->parameterWidth, 246);
    QCOMPARE(scroll->width(), 246);
    QCOMPARE(fileWidth(*fixture), 246);
    QVERIFY(!grip->isDragging());

    // The whole gesture as the mouse makes it ends the same way.
    window->resizeParameters(400);
    QTest::mouseDClick(grip, Qt::LeftButton, Qt::NoModifier, start);
    QCOMPARE(window->parameterWidth, 246);
    QCOMPARE(fileWidth(*fixture), 246);
}

void ParameterGripTest::everyWindowTakesTheWidth()
{
    auto* torn = new Window(&fixture->engine, &fixture->server, fixture->path, window);
    torn->resize(1200, 800);
    torn->show();
    QVERIFY(QTest::qWaitForWindowExposed(torn));
    QCOMPARE(torn->parameterWidth, 246);

    press();
    moveBy(100);
    release(100);
    QCOMPARE(torn->parameterWidth, 346);
    QCOMPARE(torn->parameterScroll()->width(), 346);

    // The torn-off window's grip works the same and writes through the root.
    auto* tornGrip = torn->centralWidget()->findChild<ParameterGrip*>(QStringLiteral("parameterGrip"));
    QVERIFY(tornGrip);
    QVERIFY(tornGrip != grip);
    QTest::keyClick(tornGrip, Qt::Key_Home);
    QCOMPARE(window->parameterWidth, 246);
    QCOMPARE(scroll->width(), 246);
    QCOMPARE(fileWidth(*fixture), 246);
}

void ParameterGripTest::narrowWindowShowsLessThanTheWidth()
{
    window->resizeParameters(600);
    QCOMPARE(scroll->width(), 600);
    // 800 wide the sidebar floats over the pages, closed, and keeps the width
    // (the room left is 800 - 54 - 8).
    window->resize(800, 700);
    QTRY_VERIFY(scroll->isHidden());
    QCOMPARE(scroll->width(), 600);
    QCOMPARE(window->parameterWidth, 600);
    window->resize(1400, 900);
    QTRY_VERIFY(scroll->isVisible());
    QCOMPARE(scroll->width(), 600);

    // Narrower still, the floating sidebar leaves the rail and the grip room.
    window->resize(500, 400);
    QTRY_COMPARE(scroll->width(), 500 - 54 - 8);
}

void ParameterGripTest::hiddenSidebarHidesTheGrip()
{
    auto* toggle = window->findChild<IconButton*>(QStringLiteral("sidebarToggle"));
    QVERIFY(toggle);
    QTest::mouseClick(toggle, Qt::LeftButton);
    QVERIFY(!window->parameterVisible);
    QVERIFY(!scroll->isVisible());
    QVERIFY(!grip->isVisible());
    QTest::mouseClick(toggle, Qt::LeftButton);
    QVERIFY(window->parameterVisible);
    QVERIFY(scroll->isVisible());
    QVERIFY(grip->isVisible());
}

QTEST_MAIN(ParameterGripTest)
#include "ParameterGripTest.moc"
