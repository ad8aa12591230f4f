#include "ui/kit/IconButton.h"
#include "ui/window/ParameterGrip.h"
#include "ui/window/Window.h"

#include "WorkspaceFixture.h"

#include <QLabel>
#include <QLayout>
#include <QScrollArea>
#include <QTest>

using namespace vn;

class SidebarDockingTest : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void init();
    void cleanup();

    void wideWindowsDockTheSidebar_data();
    void wideWindowsDockTheSidebar();
    void narrowWindowsFloatItOverThePages();
    void theToggleSurvivesTheFloatingPhase();

private:
    bool docked() const { return window->centralWidget()->layout()->indexOf(scroll) == 1; }
    void resizeTo(int width)
    {
        window->resize(width, 700);
        QTRY_COMPARE(window->width(), width);
    }

    std::unique_ptr<test::WorkspaceFixture> fixture;
    Window* window = nullptr;
    QScrollArea* scroll = nullptr;
    ParameterGrip* grip = nullptr;
    IconButton* toggle = nullptr;
    QLabel* mcp = nullptr;
    QLabel* message = nullptr;
};

void SidebarDockingTest::init()
{
    fixture = std::make_unique<test::WorkspaceFixture>();
    window = fixture->open();
    window->show();
    QVERIFY(QTest::qWaitForWindowExposed(window));
    scroll = window->parameterScroll();
    grip = window->findChild<ParameterGrip*>(QStringLiteral("parameterGrip"));
    toggle = window->findChild<IconButton*>(QStringLiteral("sidebarToggle"));
    mcp = window->findChild<QLabel*>(QStringLiteral("mcpStatus"));
    message = window->findChild<QLabel*>(QStringLiteral("statusText"));
    QVERIFY(scroll && grip && toggle && mcp && message);
}

void SidebarDockingTest::cleanup()
{
    fixture.reset();
    window = nullptr;
}

void SidebarDockingTest::wideWindowsDockTheSidebar_data()
{
    QTest::addColumn<int>("width");
    QTest::addColumn<int>("sidebar");
    // The pages keep 328 pixels beside a docked sidebar; the rail takes 54.
    QTest::newRow("900") << 900 << 900 - 54 - 328;
    QTest::newRow("1400") << 1400 << 246;
}

void SidebarDockingTest::wideWindowsDockTheSidebar()
{
    QFETCH(int, width);
    QFETCH(int, sidebar);
    window->parameterWidth = 600;
    resizeTo(width);
    QVERIFY(docked());
    if (width == 1400)
        window->resizeParameters(246);
    QTRY_COMPARE(scroll->width(), sidebar);
    QVERIFY(scroll->isVisible());
    QVERIFY(grip->isVisible());
    QVERIFY(toggle->isChecked());
    QVERIFY(mcp->isVisible());
    QCOMPARE(message->maximumWidth(), width - 210);
}

void SidebarDockingTest::narrowWindowsFloatItOverThePages()
{
    resizeTo(899);
    QVERIFY(!docked());
    QVERIFY(scroll->isHidden());
    QVERIFY(grip->isHidden());
    QVERIFY(!toggle->isChecked());
    QVERIFY(window->parameterVisible);
    QVERIFY(mcp->isHidden());
    QCOMPARE(message->maximumWidth(), 899 - 70);

    // Opened by the toggle, it lies over the pages right of the rail, full height.
    QTest::mouseClick(toggle, Qt::LeftButton);
    QVERIFY(scroll->isVisible());
    QVERIFY(grip->isVisible());
    const QWidget* central = window->centralWidget();
    QCOMPARE(scroll->geometry(), QRect(54, 0, 246, central->height()));
    QCOMPARE(grip->geometry(), QRect(300, 0, 8, central->height()));

    // A wide sidebar may take all but the grip's room in a floating window.
    window->resizeParameters(2000);
    QCOMPARE(scroll->width(), 899 - 54 - 8);

    // Wide again, it docks and the pages share the width.
    resizeTo(900);
    QVERIFY(docked());
    QVERIFY(scroll->isVisible());
    QVERIFY(toggle->isChecked());
    QVERIFY(mcp->isVisible());
}

void SidebarDockingTest::theToggleSurvivesTheFloatingPhase()
{
    // Closed in a wide window, it stays closed through narrowing and widening.
    QTest::mouseClick(toggle, Qt::LeftButton);
    QVERIFY(!window->parameterVisible);
    QVERIFY(scroll->isHidden());
    resizeTo(700);
    QVERIFY(scroll->isHidden());
    resizeTo(1200);
    QVERIFY(docked());
    QVERIFY(scroll->isHidden());
    QVERIFY(!toggle->isChecked());

    // Open when narrowed, it comes back open when widened.
    QTest::mouseClick(toggle, Qt::LeftButton);
    resizeTo(700);
    QVERIFY(scroll->isHidden());
    resizeTo(1200);
    QVERIFY(scroll->isVisible());
    QVERIFY(toggle->isChecked());
}

QTEST_MAIN(SidebarDockingTest)
#include "SidebarDockingTest.moc"
