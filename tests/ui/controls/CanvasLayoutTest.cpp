#include "ui/controls/CanvasGeometry.h"
#include "ui/controls/ControlPacket.h"
#include "ui/controls/SerialControlPanel.h"

#include <QComboBox>
#include <QDoubleSpinBox>
#include <QGridLayout>
#include <QJsonArray>
#include <QLabel>
#include <QMenu>
#include <QMouseEvent>
#include <QScrollArea>
#include <QSignalSpy>
#include <QSlider>
#include <QTest>
#include <QToolButton>

#include "ui/kit/IconButton.h"

using namespace vn;

namespace {

QJsonObject record(const QString& type, const QJsonObject& extra = {})
{
    QJsonObject r = defaultControl(type);
    for (auto it = extra.begin(); it != extra.end(); ++it)
        r.insert(it.key(), it.value());
    return r;
}

QJsonObject panelOf(const QJsonArray& controls, int columns = 0, const QString& id = QStringLiteral("g"))
{
    return QJsonObject{{"groups", QJsonArray{QJsonObject{{"id", id}, {"name", "G"}, {"controls", controls}},
                                             QJsonObject{{"id", "other"}, {"name", "O"}, {"controls", QJsonArray()}}}},
                       {"active_group", id},
                       {"columns", columns},
                       {"layout_version", 2}};
}

QScrollArea* scrollOf(SerialControlPanel& panel)
{
    return panel.findChild<QScrollArea*>("controlScroll");
}

} // namespace

class CanvasLayoutTest : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void modes_data()
    {
        QTest::addColumn<int>("choice");
        QTest::addColumn<int>("width");
        QTest::addColumn<int>("mode");
        QTest::newRow("free") << 0 << 300 << 0;
        QTest::newRow("two columns at 699") << 2 << 699 << 1;
        QTest::newRow("two columns at 700") << 2 << 700 << 2;
        QTest::newRow("one column") << 1 << 1200 << 1;
        QTest::newRow("unknown") << 7 << 1200 << 1;
    }
    void modes()
    {
        QFETCH(int, choice);
        QFETCH(int, width);
        QFETCH(int, mode);
        QCOMPARE(arrangeMode(choice, width), mode);
    }

    void freeGridAndRectangles()
    {
        FreeGrid narrow = freeGrid(300, false, 0);
        QCOMPARE(narrow.width, 340);
        QCOMPARE(narrow.columns, 1);
        QCOMPARE(narrow.columnWidth, 340);
        FreeGrid wide = freeGrid(708, false, 0);
        QCOMPARE(wide.columns, 2);
        QCOMPARE(wide.columnWidth, 346);
        QCOMPARE(freeGrid(707, false, 0).columns, 1);
        QCOMPARE(freeGrid(1008, true, 500).scale, 2.0);
        QCOMPARE(freeGrid(1008, false, 500).scale, 1.0);

        const QSize minimum(320, 132);
        QCOMPARE(freeCardRect(0, {}, wide, minimum), QRect(0, 0, 346, 140));
        QCOMPARE(freeCardRect(3, {}, wide, minimum), QRect(354, 148, 346, 140));
        QCOMPARE(freeCardRect(1, {}, narrow, minimum), QRect(0, 148, 340, 140));
        const QJsonObject outside{{"rect", QJsonObject{{"x", 20000}, {"y", -5}, {"width", 100}, {"height", 10}}}};
        QCOMPARE(freeCardRect(0, outside, freeGrid(500, false, 0), minimum), QRect(15680, 0, 320, 132));
        // Numbers past any int are limited like the others; the vertical ones
        // are read as whole ints, so they take their defaults.
        const QJsonObject huge{{"rect", QJsonObject{{"x", 1e300}, {"y", 1e300}, {"width", -1e300}, {"height", 1e300}}}};
        QCOMPARE(freeCardRect(0, huge, freeGrid(500, false, 0), minimum), QRect(15680, 0, 320, 140));
        const QJsonObject beyond{{"rect", QJsonObject{{"x", -1e300}, {"width", 1e300}}}};
        QCOMPARE(freeCardRect(0, beyond, freeGrid(500, true, 250), minimum), QRect(0, 0, 4000, 140));
        // Only the horizontal values follow the viewport width.
        const QJsonObject stored{{"rect", QJsonObject{{"x", 101}, {"y", 50}, {"width", 400}, {"height", 200}}}};
        QCOMPARE(freeCardRect(0, stored, freeGrid(1008, true, 500), minimum), QRect(202, 50, 800, 200));
        QCOMPARE(freeCardRect(0, stored, freeGrid(1008, true, 500), QSize(900, 300)), QRect(202, 50, 900, 300));
    }

    void sliderArithmetic()
    {
        NumberRange plain;
        QCOMPARE(sliderSteps(plain), 100);
        QCOMPARE(sliderPosition(37, plain), 37);
        QCOMPARE(sliderValue(37, plain), 37.0);
        QCOMPARE(sliderValue(100, plain), 100.0);

        const NumberRange fine = numberRange({{"minimum", 0}, {"maximum", 100000}, {"step", 0.001}, {"decimals", 3}});
        QCOMPARE(sliderSteps(fine), 1000000);
        const NumberRange flat = numberRange({{"minimum", 5}, {"maximum", 5}});
        QCOMPARE(sliderSteps(flat), 1);
        QCOMPARE(sliderPosition(5, flat), 0);
        QCOMPARE(sliderValue(1, flat), 5.0);
        const NumberRange odd = numberRange({{"minimum", 0}, {"maximum", 10}, {"step", 3}});
        QCOMPARE(sliderSteps(odd), 4);
        QCOMPARE(sliderValue(3, odd), 9.0);   // x 7.5 snaps to the step grid
        QCOMPARE(sliderValue(4, odd), 10.0);  // the last position is the maximum

        const NumberRange limited = numberRange({{"decimals", 9}, {"step", 0}, {"minimum", -5e9}, {"maximum", -6e9}});
        QCOMPARE(limited.decimals, 6);
        QCOMPARE(limited.step, 1e-6);
        QCOMPARE(limited.minimum, -1e9);
        QCOMPARE(limited.maximum, -1e9);
        QCOMPARE(fixedText(1, 3), QStringLiteral("1.000"));
    }

    void valueWidgetsNormaliseTheirRecords()
    {
        SerialControlPanel panel;
        panel.restore(panelOf({record("switch", {{"value", "true"}}),
                               record("select", {{"value", "5"}}),
                               record("number", {{"decimals", 9}, {"value", "1.23456789"}, {"maximum", 10}}),
                               record("slider", {{"value", "250"}}),
                               record("select", {{"options", "=3\nabc"}}),
                               record("button", {{"value", "<b>x</b>"}})}));
        const auto& rows = panel.controlRows();
        QCOMPARE(rows[0]->control.value("value").toString(), QStringLiteral("0"));
        QCOMPARE(rows[1]->control.value("value").toString(), QStringLiteral("0"));
        QCOMPARE(rows[1]->card->findChild<QComboBox*>("controlSelect")->currentText(), QStringLiteral("低"));
        auto* spin = rows[2]->card->findChild<QDoubleSpinBox*>("controlValue");
        QCOMPARE(spin->decimals(), 6);
        QCOMPARE(rows[2]->control.value("value").toString(), QStringLiteral("1.234568"));
        QCOMPARE(rows[3]->control.value("value").toString(), QStringLiteral("100"));
        QCOMPARE(rows[3]->card->findChild<QSlider*>("controlSlider")->value(), 100);
        QCOMPARE(rows[4]->card->findChild<QComboBox*>("controlSelect")->count(), 0);
        QCOMPARE(rows[4]->control.value("value").toString(), QString());
        QCOMPARE(rows[5]->sendButton->text(), QStringLiteral("执行动作"));
        QVERIFY(rows[5]->autoSend->isHidden());
        auto* title = rows[0]->card->findChild<QLabel*>("controlCardTitle");
        QCOMPARE(title->toolTip(), QStringLiteral("新控件 · 开关 · value"));
        QCOMPARE(rows[0]->card->findChild<QLabel*>("controlKindBadge")->text(), QStringLiteral("开关"));
    }

    void sliderAndSpinFollowEachOther()
    {
        SerialControlPanel panel;
        panel.restore(panelOf({record("slider", {{"maximum", 10}, {"step", 0.5}, {"decimals", 1}})}));
        auto* row = panel.controlRows()[0].get();
        auto* slider = row->card->findChild<QSlider*>("controlSlider");
        auto* spin = row->card->findChild<QDoubleSpinBox*>("controlValue");
        QCOMPARE(slider->maximum(), 20);
        slider->setValue(7);
        QCOMPARE(spin->value(), 3.5);
        QCOMPARE(row->control.value("value").toString(), QStringLiteral("3.5"));
        spin->setValue(9);
        QCOMPARE(slider->value(), 18);
        QCOMPARE(row->control.value("value").toString(), QStringLiteral("9.0"));
    }

    void emptyGroupNoticeInEveryLayout()
    {
        SerialControlPanel panel;
        panel.resize(900, 600);
        panel.show();
        QVERIFY(QTest::qWaitForWindowExposed(&panel));
        QTRY_COMPARE(panel.appliedColumns(), 0);
        auto* notice = panel.findChild<QLabel*>("controlEmptyNotice");
        QVERIFY(notice);
        QCOMPARE(notice->text(), QStringLiteral("当前组还没有控件，点击“添加控件”或选择“常用控件组”。"));
        QTRY_COMPARE(notice->geometry().topLeft(), QPoint(8, 8));
        QCOMPARE(notice->height(), 64);

        panel.restore(panelOf({}, 2));
        QTRY_COMPARE(panel.appliedColumns(), 2);
        auto* grid = panel.findChild<QWidget*>("controlCanvas")->findChild<QGridLayout*>();
        notice = panel.findChild<QLabel*>("controlEmptyNotice");
        int row = -1, column = -1, rowSpan = 0, columnSpan = 0;
        grid->getItemPosition(grid->indexOf(notice), &row, &column, &rowSpan, &columnSpan);
        QCOMPARE(QList<int>({row, column, rowSpan, columnSpan}), QList<int>({0, 0, 1, 2}));
    }

    void twoColumnsNeed700Pixels()
    {
        SerialControlPanel panel;
        panel.restore(panelOf({record("number"), record("switch"), record("button")}, 2));
        panel.resize(699, 600);
        panel.show();
        QVERIFY(QTest::qWaitForWindowExposed(&panel));
        QTRY_COMPARE(panel.appliedColumns(), 1);
        panel.resize(700, 600);
        QTRY_COMPARE(panel.appliedColumns(), 2);
        auto* grid = panel.findChild<QWidget*>("controlCanvas")->findChild<QGridLayout*>();
        int row = -1, column = -1, rowSpan = 0, columnSpan = 0;
        grid->getItemPosition(grid->indexOf(panel.controlRows()[2]->card), &row, &column, &rowSpan, &columnSpan);
        QCOMPARE(QPoint(column, row), QPoint(0, 1));
        QVERIFY(!panel.controlRows()[0]->card->isFreeLayout());
        // Column layouts leave the stored rectangles alone.
        QVERIFY(!panel.settings().value("groups").toArray().at(0).toObject().value("controls").toArray().at(0)
                     .toObject().contains("rect"));
    }

    void freeLayoutRecordsGeometryAndLayers()
    {
        SerialControlPanel panel;
        panel.restore(panelOf({record("number", {{"layer", 2}}), record("switch", {{"layer", 1}})}));
        // Before any geometry was recorded, records without a rectangle get none.
        QVERIFY(!panel.settings().value("groups").toArray().at(0).toObject().value("controls").toArray().at(0)
                     .toObject().contains("rect"));
        panel.resize(900, 700);
        panel.show();
        QVERIFY(QTest::qWaitForWindowExposed(&panel));
        QTRY_VERIFY(panel.canvasLayoutState().geometryRemembered);
        const auto& rows = panel.controlRows();
        QCOMPARE(rows[0]->card->isFreeLayout(), true);
        // The higher layer ends on top.
        QVERIFY(rows[0]->control.value("layer").toInt() > rows[1]->control.value("layer").toInt());
        const QJsonObject rect = rows[1]->control.value("rect").toObject();
        QCOMPARE(QRect(rect.value("x").toInt(), rect.value("y").toInt(), rect.value("width").toInt(),
                       rect.value("height").toInt()),
                 rows[1]->card->geometry());
        const int viewport = scrollOf(panel)->viewport()->width();
        QCOMPARE(panel.canvasLayoutState().referenceWidth, std::max(340, viewport - 8));

        // "移至最下层" lowers the top card and records the new order.
        QSignalSpy changed(&panel, &SerialControlPanel::changed);
        auto* layer = rows[0]->card->findChild<QToolButton*>("controlLayerMenu");
        layer->menu()->actions().at(1)->trigger();
        QCOMPARE(changed.count(), 1);
        QVERIFY(rows[0]->control.value("layer").toInt() < rows[1]->control.value("layer").toInt());

        // A click on a title bar raises the card and saves 300 ms later.
        changed.clear();
        QWidget* handle = rows[0]->card->dragHandle();
        QTest::mousePress(handle, Qt::LeftButton, {}, QPoint(100, 10));
        QTest::mouseRelease(handle, Qt::LeftButton, {}, QPoint(100, 10));
        QVERIFY(rows[0]->control.value("layer").toInt() > rows[1]->control.value("layer").toInt());
        QCOMPARE(changed.count(), 0);
        QVERIFY(changed.wait(20000));
    }

    // Before the geometry is recorded, a record with a rectangle keeps its
    // stored layer like the others, so a save and restore stacks the cards
    // as they were.
    void unrecordedLayersSurviveARoundTrip()
    {
        SerialControlPanel panel;
        const QJsonObject placed{{"rect", QJsonObject{{"x", 0}, {"y", 0}, {"width", 380}, {"height", 140}}}};
        panel.restore(panelOf({record("number"), record("slider", placed), record("button", {{"layer", 1}})}));
        auto stacking = [&panel] {
            QList<int> layers;
            for (const auto& row : panel.controlRows())
                layers << panel.canvasLayoutState().layerOf(row->card);
            return layers;
        };
        const QList<int> before = stacking();
        const QJsonObject saved = panel.settings();
        QVERIFY(saved.value("groups").toArray().at(0).toObject().value("controls").toArray().at(1)
                    .toObject().contains("rect"));
        panel.restore(saved);
        QCOMPARE(stacking(), before);
        QCOMPARE(panel.settings(), saved);
    }

    void tidyForgetsRectangles()
    {
        SerialControlPanel panel;
        QJsonObject placed{{"rect", QJsonObject{{"x", 600}, {"y", 900}, {"width", 330}, {"height", 140}}}};
        panel.restore(panelOf({record("number", placed)}));
        panel.resize(900, 700);
        panel.show();
        QVERIFY(QTest::qWaitForWindowExposed(&panel));
        QTRY_COMPARE(panel.controlRows()[0]->card->geometry().topLeft(), QPoint(600, 900));
        QSignalSpy changed(&panel, &SerialControlPanel::changed);
        QTest::mouseClick(panel.findChild<QPushButton*>("tidyControls"), Qt::LeftButton);
        QCOMPARE(changed.count(), 1);
        QCOMPARE(panel.controlRows()[0]->card->geometry().topLeft(), QPoint(0, 0));
        QCOMPARE(panel.controlRows()[0]->control.value("rect").toObject().value("y").toInt(), 0);
    }

    void raisingInAColumnLayoutRecordsNothing()
    {
        SerialControlPanel panel;
        panel.restore(panelOf({record("number"), record("switch")}, 1));
        panel.resize(900, 700);
        panel.show();
        QVERIFY(QTest::qWaitForWindowExposed(&panel));
        QTRY_COMPARE(panel.appliedColumns(), 1);
        QSignalSpy changed(&panel, &SerialControlPanel::changed);
        panel.controlRows()[0]->card->findChild<QToolButton*>("controlLayerMenu")->menu()->actions().at(0)->trigger();
        QCOMPARE(changed.count(), 1);
        QVERIFY(!panel.controlRows()[0]->control.contains("rect"));
    }

    void deleteIsDeferredAndChecksTheGroup()
    {
        SerialControlPanel panel;
        panel.restore(panelOf({record("number", {{"title", "a"}}), record("switch", {{"title", "b"}})}));
        panel.show();
        QSignalSpy changed(&panel, &SerialControlPanel::changed);
        auto* remove = panel.controlRows()[0]->card->findChild<IconButton*>("deleteControl");
        QTest::mouseClick(remove, Qt::LeftButton);
        QCOMPARE(panel.controlRows().size(), std::size_t(2));   // not inside the click
        QTRY_COMPARE(panel.controlRows().size(), std::size_t(1));
        QCOMPARE(panel.controlRows()[0]->control.value("title").toString(), QStringLiteral("b"));
        QCOMPARE(changed.count(), 1);

        // A group switch before the deferred step runs removes nothing.
        remove = panel.controlRows()[0]->card->findChild<IconButton*>("deleteControl");
        QTest::mouseClick(remove, Qt::LeftButton);
        QVERIFY(panel.selectGroup("other"));
        QTest::qWait(0);
        QVERIFY(panel.selectGroup("g"));
        QTRY_COMPARE(panel.controlRows().size(), std::size_t(1));
        QTest::qWait(0);
        QCOMPARE(panel.controlRows().size(), std::size_t(1));
    }

    void themeReachesEveryIconButton()
    {
        SerialControlPanel panel;
        panel.restore(panelOf({record("number"), record("switch")}));
        const Theme dark = Theme::make(true);
        panel.setTheme(dark);
        for (IconButton* b : panel.findChildren<IconButton*>())
            QCOMPARE(b->theme, dark);
        panel.rebuild();
        for (IconButton* b : panel.findChildren<IconButton*>())
            if (b->isVisibleTo(&panel))
                QCOMPARE(b->theme, dark);
    }
};

QTEST_MAIN(CanvasLayoutTest)
#include "CanvasLayoutTest.moc"
