#include "ui/kit/DetachableTabs.h"
#include "ui/kit/MoveEndWatcher.h"
#include "ui/kit/TearTabBar.h"
#include "ui/kit/Theme.h"

#include <QApplication>
#include <QLabel>
#include <QMenu>
#include <QPushButton>
#include <QSignalSpy>
#include <QStatusBar>
#include <QTest>

using namespace vn;

namespace {

// A tab widget with `count` labelled pages, shown.
struct Tabs {
    DetachableTabs tabs;
    QList<QPointer<QWidget>> pages;

    explicit Tabs(int count)
    {
        for (int index = 0; index < count; ++index) {
            auto* page = new QLabel(QStringLiteral("页面 %1").arg(index));
            pages.append(page);
            tabs.addTab(page, QStringLiteral("标签 %1").arg(index));
        }
        tabs.resize(500, 300);
        tabs.show();
    }
};

} // namespace

class TestDetachableTabs : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void firstTabSquaresThePageCorner();
    void missingIndexDetachesNothing();
    void detachedPageGetsItsOwnWindow();
    void closingTheWindowDocksThePage();
    void docksAtTheEndWhenTabsWereRemoved();
    void returnButtonDocks();
    void restoreAllDocksEveryPage();
    void activatePageFindsItWherever();
    void contextMenuMovesATabOut();
    void draggingATabOutTearsIt();
    void droppingTheWindowOnTheBarDocks_data();
    void droppingTheWindowOnTheBarDocks();
    void destroyedOwnerClosesWindowsWithoutDocking();
    void moveEndsWhenTheButtonIsReleased();
    void selectedTabStandsOnFeet();
    void cursorOverGrowsTheWidget();
};

void TestDetachableTabs::firstTabSquaresThePageCorner()
{
    Tabs fixture(3);
    QVERIFY(qobject_cast<TearTabBar*>(fixture.tabs.tabBar()));
    fixture.tabs.setCurrentIndex(2);
    QCOMPARE(fixture.tabs.property("leadingTabSelected").toBool(), false);
    fixture.tabs.setCurrentIndex(0);
    QCOMPARE(fixture.tabs.property("leadingTabSelected").toBool(), true);
}

void TestDetachableTabs::missingIndexDetachesNothing()
{
    Tabs fixture(2);
    QCOMPARE(fixture.tabs.detachPage(5, QPoint(), false), nullptr);
    QCOMPARE(fixture.tabs.detachPage(-1, QPoint(), false), nullptr);
    QCOMPARE(fixture.tabs.count(), 2);
}

void TestDetachableTabs::detachedPageGetsItsOwnWindow()
{
    Tabs fixture(1);
    fixture.tabs.setStyleSheet(Theme().stylesheet());
    const QImage before = fixture.tabs.grab().toImage();
    QPointer<FloatingPage> window = fixture.tabs.detachPage(0, QPoint(300, 200), false);
    QVERIFY(window);
    QCOMPARE(fixture.tabs.count(), 0);
    QCOMPARE(window->windowTitle(), QStringLiteral("标签 0 · Varnelle"));
    QCOMPARE(window->centralWidget(), fixture.pages[0].data());
    QVERIFY(window->testAttribute(Qt::WA_DeleteOnClose));
    QCOMPARE(window->minimumSize(), QSize(320, 240));
    QCOMPARE(window->size(), QSize(900, 640));
    QCOMPARE(window->pos(), QPoint(200, 186));
    QCOMPARE(window->styleSheet(), fixture.tabs.styleSheet());
    QCOMPARE(window->statusBar()->currentMessage(), QStringLiteral("拖动系统标题栏分屏  ·  Super + 方向键 选择布局"));
    auto* back = window->statusBar()->findChild<QPushButton*>();
    QVERIFY(back);
    QCOMPARE(back->text(), QStringLiteral("返回标签栏"));
    QCOMPARE(back->toolTip(), QStringLiteral("也可将窗口标题栏拖回原标签栏；关闭窗口会返回瓦内勒"));
    QCOMPARE(fixture.tabs.floatingWindow(fixture.pages[0]), window.data());
    // The emptied tab widget shows where the page went.
    QVERIFY(fixture.tabs.grab().toImage() != before);
    window->close();
    QTRY_VERIFY(!window);
}

void TestDetachableTabs::closingTheWindowDocksThePage()
{
    Tabs fixture(3);
    QSignalSpy attached(&fixture.tabs, &DetachableTabs::pageAttached);
    QPointer<FloatingPage> window = fixture.tabs.detachPage(1, QPoint(100, 100), false);
    fixture.tabs.setTabIcon(0, QIcon());
    QCOMPARE(fixture.tabs.count(), 2);
    window->close();
    QTRY_VERIFY(!window);
    QCOMPARE(fixture.tabs.count(), 3);
    QCOMPARE(fixture.tabs.widget(1), fixture.pages[1].data());
    QCOMPARE(fixture.tabs.tabText(1), QStringLiteral("标签 1"));
    QCOMPARE(fixture.tabs.currentIndex(), 1);
    QCOMPARE(attached.count(), 1);
    QCOMPARE(attached.first().first().value<QWidget*>(), fixture.pages[1].data());
    QCOMPARE(fixture.tabs.floatingWindow(fixture.pages[1]), nullptr);
}

void TestDetachableTabs::docksAtTheEndWhenTabsWereRemoved()
{
    Tabs fixture(6);
    QPointer<FloatingPage> window = fixture.tabs.detachPage(5, QPoint(100, 100), false);
    fixture.tabs.removeTab(0);
    fixture.tabs.removeTab(0);
    fixture.tabs.removeTab(0);
    QCOMPARE(fixture.tabs.count(), 2);
    window->returnToTabs();
    QTRY_VERIFY(!window);
    QCOMPARE(fixture.tabs.indexOf(fixture.pages[5]), 2);
}

void TestDetachableTabs::returnButtonDocks()
{
    Tabs fixture(2);
    QPointer<FloatingPage> window = fixture.tabs.detachPage(0, QPoint(100, 100), false);
    QTest::mouseClick(window->statusBar()->findChild<QPushButton*>(), Qt::LeftButton);
    QTRY_VERIFY(!window);
    QCOMPARE(fixture.tabs.indexOf(fixture.pages[0]), 0);
}

void TestDetachableTabs::restoreAllDocksEveryPage()
{
    Tabs fixture(3);
    auto* inner = new DetachableTabs;
    auto* innerPage = new QLabel(QStringLiteral("内页"));
    inner->addTab(innerPage, QStringLiteral("内"));
    fixture.tabs.addTab(inner, QStringLiteral("嵌套"));
    QPointer<FloatingPage> outer = fixture.tabs.detachPage(3, QPoint(100, 100), false);
    QPointer<FloatingPage> nested = inner->detachPage(0, QPoint(150, 150), false);
    QPointer<FloatingPage> plain = fixture.tabs.detachPage(0, QPoint(200, 200), false);
    fixture.tabs.restoreAll();
    QTRY_VERIFY(!outer && !nested && !plain);
    QCOMPARE(fixture.tabs.count(), 4);
    QCOMPARE(inner->count(), 1);
    QCOMPARE(inner->widget(0), innerPage);
}

void TestDetachableTabs::activatePageFindsItWherever()
{
    Tabs fixture(3);
    fixture.tabs.activatePage(fixture.pages[2]);
    QCOMPARE(fixture.tabs.currentIndex(), 2);
    QPointer<FloatingPage> window = fixture.tabs.detachPage(0, QPoint(100, 100), false);
    window->showMinimized();
    fixture.tabs.activatePage(fixture.pages[0]);
    QVERIFY(!window->isMinimized());
    QVERIFY(window->isVisible());
    window->close();
    QTRY_VERIFY(!window);
}

void TestDetachableTabs::contextMenuMovesATabOut()
{
    Tabs fixture(2);
    QVERIFY(QTest::qWaitForWindowExposed(&fixture.tabs));
    QTabBar* bar = fixture.tabs.tabBar();
    QCOMPARE(bar->contextMenuPolicy(), Qt::CustomContextMenu);
    Q_EMIT bar->customContextMenuRequested(bar->tabRect(1).center());
    QPointer<QMenu> menu = qobject_cast<QMenu*>(QApplication::activePopupWidget());
    QVERIFY(menu);
    QCOMPARE(menu->actions().size(), 1);
    QCOMPARE(menu->actions().first()->text(), QStringLiteral("移至独立窗口"));
    menu->actions().first()->trigger();
    menu->close();
    QCOMPARE(fixture.tabs.count(), 1);
    QPointer<FloatingPage> window = fixture.tabs.floatingWindow(fixture.pages[1]);
    QVERIFY(window);
    window->close();
    QTRY_VERIFY(!window);
    QCOMPARE(fixture.tabs.count(), 2);
}

void TestDetachableTabs::draggingATabOutTearsIt()
{
    Tabs fixture(2);
    QVERIFY(QTest::qWaitForWindowExposed(&fixture.tabs));
    QTabBar* bar = fixture.tabs.tabBar();
    const QPoint start = bar->tabRect(0).center();
    auto send = [bar](QEvent::Type type, QPoint at, Qt::MouseButton button, Qt::MouseButtons buttons) {
        QMouseEvent event(type, QPointF(at), bar->mapToGlobal(QPointF(at)), button, buttons, Qt::NoModifier);
        QApplication::sendEvent(bar, &event);
    };
    send(QEvent::MouseButtonPress, start, Qt::LeftButton, Qt::LeftButton);
    send(QEvent::MouseMove, start + QPoint(0, 3), Qt::NoButton, Qt::LeftButton);
    QCOMPARE(fixture.tabs.count(), 2); // a few pixels move nothing out
    send(QEvent::MouseMove, QPoint(start.x(), bar->height() + 120), Qt::NoButton, Qt::LeftButton);
    QCOMPARE(fixture.tabs.count(), 1);
    QPointer<FloatingPage> window = fixture.tabs.floatingWindow(fixture.pages[0]);
    QVERIFY(window);
    QCOMPARE(window->pos(), bar->mapToGlobal(QPoint(start.x(), bar->height() + 120)) - QPoint(100, 14));
    send(QEvent::MouseButtonRelease, QPoint(start.x(), bar->height() + 120), Qt::LeftButton, Qt::NoButton);
    window->close();
    QTRY_VERIFY(!window);
}

void TestDetachableTabs::droppingTheWindowOnTheBarDocks_data()
{
    QTest::addColumn<int>("below");
    QTest::addColumn<bool>("docks");
    QTest::newRow("9 px below the bar") << 9 << true;
    QTest::newRow("11 px below the bar") << 11 << false;
    QTest::newRow("on the bar") << -10 << true;
}

void TestDetachableTabs::droppingTheWindowOnTheBarDocks()
{
    QFETCH(int, below);
    QFETCH(bool, docks);
    Tabs fixture(2);
    QVERIFY(QTest::qWaitForWindowExposed(&fixture.tabs));
    QPointer<FloatingPage> window = fixture.tabs.detachPage(1, QPoint(400, 400), false);
    QTabBar* bar = fixture.tabs.tabBar();
    // The bar's last row is at height - 1; "n px below" is that many rows further.
    QCursor::setPos(bar->mapToGlobal(QPoint(bar->tabRect(0).center().x(), bar->height() - 1 + below)));
    auto* watcher = window->findChild<MoveEndWatcher*>(QStringLiteral("moveEndWatcher"));
    QVERIFY(watcher);
    watcher->finish();
    if (docks) {
        QTRY_VERIFY(!window);
        QCOMPARE(fixture.tabs.count(), 2);
    } else {
        QApplication::processEvents();
        QVERIFY(window);
        QCOMPARE(fixture.tabs.count(), 1);
        window->close();
    }
}

void TestDetachableTabs::destroyedOwnerClosesWindowsWithoutDocking()
{
    auto owner = std::make_unique<DetachableTabs>();
    QPointer<QWidget> page = new QLabel(QStringLiteral("页"));
    owner->addTab(page, QStringLiteral("页"));
    owner->show();
    QPointer<FloatingPage> window = owner->detachPage(0, QPoint(100, 100), false);
    owner.reset();
    QTRY_VERIFY(!window);
    QTRY_VERIFY(!page);
}

void TestDetachableTabs::moveEndsWhenTheButtonIsReleased()
{
    QWidget window;
    window.resize(240, 160);
    window.show();
    window.activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(&window));
    auto* watcher = new MoveEndWatcher(&window);
    QSignalSpy ended(watcher, &MoveEndWatcher::moveEnded);

    // The window is carried while the button is down: no end however long it rests.
    QTest::mousePress(&window, Qt::LeftButton, {}, QPoint(20, 20));
    window.move(window.pos() + QPoint(40, 30));
    QTRY_VERIFY(watcher->pending());
    QVERIFY(!ended.wait(3 * MoveEndWatcher::SettleMs));
    QVERIFY(watcher->pending());

    QTest::mouseRelease(&window, Qt::LeftButton, {}, QPoint(20, 20));
    QVERIFY(ended.wait(20000));
    QCOMPARE(ended.size(), 1);
    QCOMPARE(ended.first().first().toPoint(), QCursor::pos());
    QVERIFY(!watcher->pending());

    // Hiding the window drops a move that had not settled.
    window.move(window.pos() + QPoint(10, 10));
    QTRY_VERIFY(watcher->pending());
    window.hide();
    QVERIFY(!watcher->pending());
}

void TestDetachableTabs::selectedTabStandsOnFeet()
{
    TearTabBar bar;
    bar.addTab(QStringLiteral("串口 A"));
    bar.addTab(QStringLiteral("串口 B"));
    bar.resize(bar.sizeHint().width() + 40, bar.sizeHint().height());
    bar.setCurrentIndex(1);
    const QRect tab = bar.tabRect(1);
    const int y = std::min(tab.y() + tab.height(), bar.height()) - 1;
    const QPoint leftFoot(tab.x() + 6 - 2, y);
    const QPoint rightFoot(tab.x() + tab.width() - 6 + 1, y);
    const QColor page(255, 0, 0);
    const auto red = [](const QImage& image, QPoint at) { return image.pixelColor(at) == QColor(255, 0, 0); };

    // No colour set: nothing drawn beyond the standard tabs.
    const QImage plain = bar.grab().toImage();
    QVERIFY(!red(plain, leftFoot) && !red(plain, rightFoot));
    bar.setPageColor(page);
    const QImage feet = bar.grab().toImage();
    QVERIFY(red(feet, leftFoot));
    QVERIFY(red(feet, rightFoot));
    // Away from the corners the fillets leave the bar as it was.
    QVERIFY(!red(feet, QPoint(tab.x() + tab.width() / 2, tab.y() + 2)));
}

void TestDetachableTabs::cursorOverGrowsTheWidget()
{
    QWidget widget;
    widget.setGeometry(100, 100, 50, 20);
    QVERIFY(!cursorOver(&widget, widget.mapToGlobal(QPoint(10, 10)))); // hidden
    QVERIFY(!cursorOver(nullptr, QPoint()));
    widget.show();
    QVERIFY(QTest::qWaitForWindowExposed(&widget));
    const QPoint origin = widget.mapToGlobal(QPoint(0, 0));
    QVERIFY(cursorOver(&widget, origin + QPoint(-8, -10)));
    QVERIFY(!cursorOver(&widget, origin + QPoint(-9, 5)));
    QVERIFY(!cursorOver(&widget, origin + QPoint(5, -11)));
    QVERIFY(cursorOver(&widget, origin + QPoint(49 + 8, 19 + 10)));
    QVERIFY(!cursorOver(&widget, origin + QPoint(49 + 9, 5)));
}

QTEST_MAIN(TestDetachableTabs)
#include "tst_DetachableTabs.moc"
