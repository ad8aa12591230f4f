#include "ui/controls/ControlCard.h"

#include <QApplication>
#include <QLabel>
#include <QMouseEvent>
#include <QSignalSpy>
#include <QTest>
#include <QVBoxLayout>

using namespace vn;

namespace {

// One mouse event delivered to `target` at a global position: while a card
// holds the grab, moves and the release reach it wherever they happen.
void mouse(QWidget* target, QEvent::Type type, const QPoint& global, Qt::MouseButton button = Qt::LeftButton)
{
    const QPointF local = target->mapFromGlobal(QPointF(global));
    const Qt::MouseButtons held = type == QEvent::MouseButtonRelease ? Qt::NoButton : Qt::MouseButtons(button);
    QMouseEvent event(type, local, QPointF(global), type == QEvent::MouseMove ? Qt::NoButton : button, held,
                      Qt::NoModifier);
    QApplication::sendEvent(target, &event);
}

struct Canvas {
    Canvas()
    {
        canvas.resize(1200, 900);
        card = new ControlCard(&canvas);
        auto* layout = new QVBoxLayout(card);
        handle = new QWidget;
        handle->setMinimumHeight(26);
        title = new QLabel(QStringLiteral("标题"), handle);
        layout->addWidget(handle);
        layout->addStretch(1);
        card->setDragHandle(handle, title);
        card->setGeometry(100, 100, 400, 200);
        canvas.show();
    }
    QPoint onHandle() const { return handle->mapToGlobal(QPoint(200, 10)); }
    QWidget canvas;
    ControlCard* card = nullptr;
    QWidget* handle = nullptr;
    QLabel* title = nullptr;
};

} // namespace

class ControlCardTest : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void construction()
    {
        Canvas c;
        QCOMPARE(c.card->objectName(), QStringLiteral("serialControlCard"));
        QCOMPARE(c.handle->objectName(), QStringLiteral("controlDragHandle"));
        QCOMPARE(c.handle->toolTip(), QStringLiteral("拖动标题栏移动控件；拖动边缘或右下角调整大小"));
        QCOMPARE(c.card->minimumSize(), QSize(320, 132));
        QCOMPARE(c.card->maximumSize(), QSize(4000, 4000));
        auto* grip = c.card->findChild<QWidget*>("controlResizeGrip");
        QVERIFY(grip);
        QCOMPARE(grip->size(), QSize(16, 16));
        QCOMPARE(grip->toolTip(), QStringLiteral("拖动调整控件大小"));
        QVERIFY(!grip->isVisible());
        QCOMPARE(grip->pos(), QPoint(400 - 18, 200 - 18));
    }

    void nothingMovesOutsideTheFreeLayout()
    {
        Canvas c;
        QSignalSpy started(c.card, &ControlCard::interactionStarted);
        mouse(c.handle, QEvent::MouseButtonPress, c.onHandle());
        mouse(c.card, QEvent::MouseMove, c.onHandle() + QPoint(50, 50));
        mouse(c.card, QEvent::MouseButtonRelease, c.onHandle() + QPoint(50, 50));
        QCOMPARE(c.card->geometry(), QRect(100, 100, 400, 200));
        QCOMPARE(started.count(), 0);
        QCOMPARE(c.handle->cursor().shape(), Qt::ArrowCursor);

        c.card->setFreeLayout(true);
        QVERIFY(c.card->grip()->isVisible());
        QCOMPARE(c.handle->cursor().shape(), Qt::SizeAllCursor);
        mouse(c.handle, QEvent::MouseButtonPress, c.onHandle(), Qt::RightButton);
        QCOMPARE(started.count(), 0);
    }

    void plainClickReportsStartAndEnd()
    {
        Canvas c;
        c.card->setFreeLayout(true);
        QSignalSpy started(c.card, &ControlCard::interactionStarted);
        QSignalSpy edited(c.card, &ControlCard::geometryEdited);
        mouse(c.title, QEvent::MouseButtonPress, c.title->mapToGlobal(QPoint(2, 2)));
        QCOMPARE(started.count(), 1);
        QCOMPARE(edited.count(), 0);
        mouse(c.card, QEvent::MouseButtonRelease, c.title->mapToGlobal(QPoint(2, 2)));
        QCOMPARE(edited.count(), 1);
        QCOMPARE(c.card->geometry(), QRect(100, 100, 400, 200));
    }

    void moveStaysInsideTheCanvasSquare_data()
    {
        QTest::addColumn<QPoint>("delta");
        QTest::addColumn<QRect>("expected");
        QTest::newRow("plain move") << QPoint(30, -20) << QRect(130, 80, 400, 200);
        QTest::newRow("far right") << QPoint(40000, 0) << QRect(15600, 100, 400, 200);
        QTest::newRow("far up and left") << QPoint(-500, -500) << QRect(0, 0, 400, 200);
        QTest::newRow("far down") << QPoint(0, 40000) << QRect(100, 15800, 400, 200);
    }
    void moveStaysInsideTheCanvasSquare()
    {
        QFETCH(QPoint, delta);
        QFETCH(QRect, expected);
        Canvas c;
        c.card->setFreeLayout(true);
        QSignalSpy edited(c.card, &ControlCard::geometryEdited);
        const QPoint start = c.onHandle();
        mouse(c.handle, QEvent::MouseButtonPress, start);
        mouse(c.card, QEvent::MouseMove, start + delta / 2);
        mouse(c.card, QEvent::MouseMove, start + delta);
        QCOMPARE(c.card->geometry(), expected);
        QVERIFY(c.card->geometry().right() <= 15999);
        mouse(c.card, QEvent::MouseButtonRelease, start + delta);
        QCOMPARE(c.card->geometry(), expected);
        QVERIFY(edited.count() >= 2);
    }

    void resizeKeepsItsLimits_data()
    {
        QTest::addColumn<QPoint>("pressAt");   // in card coordinates; (-1,-1) means the grip
        QTest::addColumn<QPoint>("delta");
        QTest::addColumn<QRect>("expected");
        QTest::newRow("left edge to the minimum width") << QPoint(2, 100) << QPoint(300, 0) << QRect(180, 100, 320, 200);
        QTest::newRow("left edge wider") << QPoint(2, 100) << QPoint(-50, 0) << QRect(50, 100, 450, 200);
        QTest::newRow("left edge past the canvas") << QPoint(2, 100) << QPoint(-500, 0) << QRect(0, 100, 500, 200);
        QTest::newRow("top edge to the minimum height") << QPoint(200, 1) << QPoint(0, 500) << QRect(100, 168, 400, 132);
        QTest::newRow("bottom right corner") << QPoint(398, 198) << QPoint(10, 20) << QRect(100, 100, 410, 220);
        QTest::newRow("grip never past 4000") << QPoint(-1, -1) << QPoint(9000, 9000) << QRect(100, 100, 4000, 4000);
        QTest::newRow("grip small") << QPoint(-1, -1) << QPoint(-900, -900) << QRect(100, 100, 320, 132);
    }
    void resizeKeepsItsLimits()
    {
        QFETCH(QPoint, pressAt);
        QFETCH(QPoint, delta);
        QFETCH(QRect, expected);
        Canvas c;
        c.card->setFreeLayout(true);
        const bool grip = pressAt == QPoint(-1, -1);
        QWidget* target = grip ? static_cast<QWidget*>(c.card->grip()) : c.card;
        const QPoint start = grip ? c.card->grip()->mapToGlobal(QPoint(8, 8)) : c.card->mapToGlobal(pressAt);
        mouse(target, QEvent::MouseButtonPress, start);
        mouse(c.card, QEvent::MouseMove, start + delta);
        mouse(c.card, QEvent::MouseButtonRelease, start + delta);
        QCOMPARE(c.card->geometry(), expected);
    }

    void resizeNearTheFarCornerStopsAtTheSquare()
    {
        Canvas c;
        c.card->setFreeLayout(true);
        c.card->setGeometry(15000, 15000, 400, 400);
        const QPoint start = c.card->grip()->mapToGlobal(QPoint(8, 8));
        mouse(c.card->grip(), QEvent::MouseButtonPress, start);
        mouse(c.card, QEvent::MouseMove, start + QPoint(5000, 5000));
        mouse(c.card, QEvent::MouseButtonRelease, start + QPoint(5000, 5000));
        QCOMPARE(c.card->geometry().right(), 15999);
        QCOMPARE(c.card->geometry().bottom(), 15999);
    }

    void hoverCursorFollowsTheEdges_data()
    {
        QTest::addColumn<QPoint>("at");
        QTest::addColumn<int>("shape");
        QTest::newRow("top left") << QPoint(1, 1) << int(Qt::SizeFDiagCursor);
        QTest::newRow("bottom right") << QPoint(399, 199) << int(Qt::SizeFDiagCursor);
        QTest::newRow("top right") << QPoint(398, 2) << int(Qt::SizeBDiagCursor);
        QTest::newRow("left") << QPoint(0, 100) << int(Qt::SizeHorCursor);
        QTest::newRow("bottom") << QPoint(200, 195) << int(Qt::SizeVerCursor);
        QTest::newRow("inside") << QPoint(200, 100) << int(Qt::ArrowCursor);
    }
    void hoverCursorFollowsTheEdges()
    {
        QFETCH(QPoint, at);
        QFETCH(int, shape);
        Canvas c;
        c.card->setFreeLayout(true);
        mouse(c.card, QEvent::MouseMove, c.card->mapToGlobal(at), Qt::NoButton);
        QCOMPARE(int(c.card->cursor().shape()), shape);
    }

    void fitContentsGrowsToTheContent()
    {
        Canvas c;
        c.card->setFreeLayout(true);
        c.card->setGeometry(0, 0, 320, 132);
        auto* tall = new QWidget;
        tall->setMinimumHeight(300);
        c.card->layout()->addWidget(tall);
        tall->show();
        c.card->fitContents();
        QVERIFY(c.card->minimumHeight() > 300);
        QCOMPARE(c.card->height(), c.card->minimumHeight());
        QCOMPARE(c.card->minimumWidth(), 320);
    }

    void fitContentsStopsAtTheCardLimit()
    {
        Canvas c;
        c.card->setFreeLayout(true);
        c.card->setGeometry(0, 0, 320, 132);
        auto* wide = new QLabel(QString(6000, QLatin1Char('W')));
        wide->setWordWrap(true);
        c.card->layout()->addWidget(wide);
        wide->show();
        QVERIFY(c.card->layout()->minimumSize().width() > 4000);
        c.card->fitContents();
        QCOMPARE(c.card->minimumWidth(), 4000);
        QCOMPARE(c.card->width(), 4000);
    }
};

QTEST_MAIN(ControlCardTest)
#include "ControlCardTest.moc"
