#include "ui/kit/Combo.h"
#include "ui/kit/ConnectionBar.h"
#include "ui/kit/Factories.h"
#include "ui/kit/IconButton.h"
#include "ui/kit/IconPainter.h"
#include "ui/kit/SearchBox.h"
#include "ui/kit/Splitter.h"
#include "ui/kit/StatusLed.h"
#include "ui/kit/Theme.h"

#include <QAbstractItemView>
#include <QApplication>
#include <QBoxLayout>
#include <QDialog>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPushButton>
#include <QScrollArea>
#include <QSignalSpy>
#include <QTest>
#include <QWheelEvent>

using namespace vn;

namespace {

// A pixel well inside the filled "play" triangle of a 36 px icon button.
const QPoint inTriangle(16, 18);

QColor pixelAt(QWidget& widget, QPoint point)
{
    return widget.grab().toImage().pixelColor(point);
}

void sendEnter(QWidget* widget)
{
    QEnterEvent enter(QPointF(5, 5), widget->mapToGlobal(QPointF(5, 5)), widget->mapToGlobal(QPointF(5, 5)));
    QApplication::sendEvent(widget, &enter);
}

void sendLeave(QWidget* widget)
{
    QEvent leave(QEvent::Leave);
    QApplication::sendEvent(widget, &leave);
}

void sendMouse(QWidget* widget, QEvent::Type type, QPoint position, Qt::MouseButton button,
               Qt::MouseButtons buttons)
{
    QMouseEvent event(type, QPointF(position), widget->mapToGlobal(QPointF(position)), button, buttons,
                      Qt::NoModifier);
    QApplication::sendEvent(widget, &event);
}

// Counts paint events reaching one widget.
class PaintCounter : public QObject {
public:
    int count = 0;
    bool eventFilter(QObject*, QEvent* event) override
    {
        count += event->type() == QEvent::Paint ? 1 : 0;
        return false;
    }
};

} // namespace

class TestWidgets : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void initTestCase();

    void iconButtonBasics();
    void iconButtonHoverEasesTowardsAccent();
    void gearTurnsOncePerAskAndQueuesOneMore();
    void disabledIconButtonDrawsInLine();
    void checkedPauseShowsPlay();
    void railButtonsUseFixedColours();

    void comboSetUp();
    void wheelOverClosedComboScrollsThePage();
    void comboChevronFollowsState();
    void comboListOpensRounded();
    void comboMenuPopup();
    void protocolComboAlwaysUsesTheMenu();

    void statusLedStates_data();
    void statusLedStates();
    void statusLedRepaintsOnlyOnChange();

    void splitterHandlesAreGrips();
    void gripDoubleClickSharesEqually();

    void searchBoxSetUp();
    void searchBoxClearButton();

    void connectionBarSetUp();
    void connectionBarTabWidths();
    void middleClickClosesOnlyTheSameTab();
    void draggingATabOutOfTheBarTearsIt();

    void factories();
    void dialogBecomesScrollable();

    void keyboardFocusIsMarkedOnlyForKeyboard();
};

void TestWidgets::initTestCase()
{
    // Installs the keyboard-focus marking and the button motion as start-up does.
    Theme().stylesheet();
}

void TestWidgets::iconButtonBasics()
{
    IconButton button(QStringLiteral("gear"), QStringLiteral("设置"));
    QCOMPARE(button.size(), QSize(36, 36));
    QCOMPARE(button.sizeHint(), QSize(36, 36));
    QCOMPARE(button.minimumSize(), QSize(36, 36));
    QCOMPARE(button.maximumSize(), QSize(36, 36));
    QCOMPARE(button.toolTip(), QStringLiteral("设置"));
    QCOMPARE(button.accessibleName(), QStringLiteral("设置"));
    QCOMPARE(button.cursor().shape(), Qt::PointingHandCursor);
    QCOMPARE(button.focusPolicy(), Qt::StrongFocus);
    QVERIFY(button.theme == Theme());
    button.setIconName(QStringLiteral("close"));
    QCOMPARE(button.iconName(), QStringLiteral("close"));
}

void TestWidgets::iconButtonHoverEasesTowardsAccent()
{
    IconButton button(QStringLiteral("play"), QStringLiteral("开始"));
    button.show();
    QVERIFY(QTest::qWaitForWindowExposed(&button));
    QCOMPARE(button.hoverAnimation()->duration(), 165);
    QCOMPARE(button.hoverAnimation()->easingCurve().type(), QEasingCurve::OutCubic);
    QCOMPARE(pixelAt(button, inTriangle), button.theme.text);
    sendEnter(&button);
    QTRY_COMPARE(button.hoverProgress(), 1.0);
    QCOMPARE(pixelAt(button, inTriangle), button.theme.accent);
    sendLeave(&button);
    QTRY_COMPARE(button.hoverProgress(), 0.0);
    QCOMPARE(pixelAt(button, inTriangle), button.theme.text);
}

void TestWidgets::gearTurnsOncePerAskAndQueuesOneMore()
{
    IconButton gear(QStringLiteral("gear"), QStringLiteral("设置"));
    QSignalSpy turns(gear.spinAnimation(), &QAbstractAnimation::finished);
    QCOMPARE(gear.spinAnimation()->duration(), 480);
    QCOMPARE(gear.spinAnimation()->easingCurve().type(), QEasingCurve::InOutCubic);
    // Entering and leaving quickly: one running turn and one pending turn.
    sendEnter(&gear);
    sendLeave(&gear);
    gear.turnGear();
    QTRY_COMPARE_WITH_TIMEOUT(turns.count(), 2, 10000);
    QCOMPARE(gear.spinAnimation()->state(), QAbstractAnimation::Stopped);
    QCOMPARE(gear.spinAngle(), 0.0);

    // Other icons never turn.
    IconButton other(QStringLiteral("plus"), QString());
    other.turnGear();
    QCOMPARE(other.spinAnimation()->state(), QAbstractAnimation::Stopped);
}

void TestWidgets::disabledIconButtonDrawsInLine()
{
    IconButton button(QStringLiteral("play"), QString());
    button.setCheckable(true);
    button.setChecked(true);
    button.setEnabled(false);
    sendEnter(&button);
    QCOMPARE(pixelAt(button, inTriangle), button.theme.line);

    IconButton gear(QStringLiteral("gear"), QString());
    gear.setEnabled(false);
    gear.turnGear();
    sendEnter(&gear);
    QCOMPARE(gear.spinAnimation()->state(), QAbstractAnimation::Stopped);
}

void TestWidgets::checkedPauseShowsPlay()
{
    IconButton pause(QStringLiteral("pause"), QString());
    IconButton play(QStringLiteral("play"), QString());
    for (IconButton* button : {&pause, &play}) {
        button->setCheckable(true);
        button->setChecked(true);
    }
    QCOMPARE(pause.grab().toImage(), play.grab().toImage());
    pause.setChecked(false);
    QVERIFY(pause.grab().toImage() != play.grab().toImage());
}

void TestWidgets::railButtonsUseFixedColours()
{
    QWidget rail;
    rail.setObjectName(QStringLiteral("rail"));
    auto* button = new IconButton(QStringLiteral("play"), QString(), &rail);
    for (const bool dark : {false, true}) {
        button->theme = Theme::make(dark);
        QCOMPARE(pixelAt(*button, inTriangle), QColor(0xd7, 0xdf, 0xc4));
    }
    button->setCheckable(true);
    button->setChecked(true);
    QCOMPARE(pixelAt(*button, inTriangle), QColor(0xed, 0xaa, 0x50));
}

void TestWidgets::comboSetUp()
{
    Combo combo;
    QCOMPARE(combo.sizeAdjustPolicy(), QComboBox::AdjustToMinimumContentsLengthWithIcon);
    QCOMPARE(combo.minimumContentsLength(), 4);
    QCOMPARE(combo.minimumWidth(), 0);
    QCOMPARE(combo.maxVisibleItems(), 12);
    QVERIFY(!combo.menuPopup);
}

void TestWidgets::wheelOverClosedComboScrollsThePage()
{
    QScrollArea area;
    auto* content = new QWidget;
    auto* layout = new QVBoxLayout(content);
    auto* combo = new Combo;
    combo->addItems({QStringLiteral("一"), QStringLiteral("二"), QStringLiteral("三")});
    layout->addWidget(combo);
    layout->addSpacing(2000);
    area.setWidget(content);
    area.resize(300, 200);
    area.show();
    QVERIFY(QTest::qWaitForWindowExposed(&area));

    const QPointF inside(10, 10);
    QWheelEvent wheel(inside, combo->mapToGlobal(inside), QPoint(), QPoint(0, -120), Qt::NoButton,
                      Qt::NoModifier, Qt::NoScrollPhase, false);
    QApplication::sendEvent(combo, &wheel);
    QCOMPARE(combo->currentIndex(), 0);
    QVERIFY(!wheel.isAccepted()); // left to the scroll area around it
}

namespace {

// Whether a pixel near `colour` appears where the chevron is drawn.
bool chevronShows(Combo& combo, const QColor& colour)
{
    const QImage image = combo.grab().toImage();
    const int w = combo.width();
    const int h = combo.height();
    for (int y = h / 2 - 3; y <= h / 2 + 3; ++y) {
        for (int x = w - 19; x <= w - 9; ++x) {
            const QColor pixel = image.pixelColor(x, y);
            const int distance = std::abs(pixel.red() - colour.red()) + std::abs(pixel.green() - colour.green())
                                 + std::abs(pixel.blue() - colour.blue());
            if (distance < 40) {
                return true;
            }
        }
    }
    return false;
}

} // namespace

void TestWidgets::comboChevronFollowsState()
{
    const Theme theme = Theme::make(true);
    QWidget window;
    window.setStyleSheet(theme.stylesheet());
    auto* layout = new QVBoxLayout(&window);
    auto* combo = new Combo;
    combo->addItems({QStringLiteral("一"), QStringLiteral("二")});
    combo->setFixedSize(160, 40);
    layout->addWidget(combo);
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    QVERIFY(chevronShows(*combo, theme.text));
    QVERIFY(!chevronShows(*combo, theme.accent));
    combo->showPopup();
    QTRY_VERIFY(combo->view()->isVisible());
    QVERIFY(chevronShows(*combo, theme.accent));
    combo->hidePopup();
    QTRY_VERIFY(!combo->view()->isVisible());
    combo->setEnabled(false);
    QVERIFY(!chevronShows(*combo, theme.accent));
    QVERIFY(chevronShows(*combo, combo->palette().color(QPalette::Disabled, QPalette::Text)));
}

void TestWidgets::comboListOpensRounded()
{
    QWidget window;
    auto* layout = new QVBoxLayout(&window);
    auto* combo = new Combo;
    combo->addItems({QStringLiteral("9600"), QStringLiteral("115200")});
    layout->addWidget(combo);
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    combo->showPopup();
    QWidget* popup = combo->view()->window();
    QTRY_VERIFY(popup->isVisible());
    QVERIFY(popup != &window);
    QVERIFY(popup->property("roundedPopup").toBool());
    QVERIFY(popup->windowFlags().testFlag(Qt::FramelessWindowHint));
    QVERIFY(popup->testAttribute(Qt::WA_TranslucentBackground));
    // The mask cuts the corners: the corner pixel is outside, the middle inside.
    QTRY_VERIFY(!popup->mask().isEmpty());
    QVERIFY(!popup->mask().contains(QPoint(0, 0)));
    QVERIFY(popup->mask().contains(QPoint(popup->width() / 2, popup->height() / 2)));
    combo->hidePopup();
    QTRY_VERIFY(!popup->isVisible());
}

void TestWidgets::comboMenuPopup()
{
    QWidget window;
    window.resize(300, 120);
    auto* combo = new Combo(&window);
    combo->setGeometry(10, 10, 200, 36);
    combo->addItems({QStringLiteral("甲"), QStringLiteral("乙"), QStringLiteral("丙"), QStringLiteral("读&写")});
    combo->setItemData(1, QStringLiteral("乙（说明）"), Qt::ToolTipRole);
    combo->setCurrentIndex(2);
    combo->menuPopup = true;
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    QSignalSpy activated(combo, &QComboBox::activated);

    combo->showPopup();
    QPointer<QMenu> menu = qobject_cast<QMenu*>(QApplication::activePopupWidget());
    QVERIFY(menu);
    QVERIFY(menu->testAttribute(Qt::WA_DeleteOnClose));
    QVERIFY(menu->minimumWidth() >= combo->width());
    QCOMPARE(menu->pos(), combo->mapToGlobal(QPoint(0, combo->height() + 1)));
    const QList<QAction*> actions = menu->actions();
    QCOMPARE(actions.size(), 4);
    QCOMPARE(actions[0]->text(), QStringLiteral("甲"));
    QCOMPARE(actions[1]->text(), QStringLiteral("乙（说明）"));
    QCOMPARE(actions[3]->iconText(), QStringLiteral("读&写")); // an "&" is shown, not a mnemonic
    QVERIFY(!actions[0]->isChecked());
    QVERIFY(actions[2]->isChecked());
    for (QAction* action : actions) {
        QVERIFY(action->isCheckable());
    }

    actions[1]->trigger();
    QCOMPARE(combo->currentIndex(), 1);
    QCOMPARE(activated.count(), 1);
    QCOMPARE(activated.first().first().toInt(), 1);
    menu->close();
    QTRY_VERIFY(!menu);
}

void TestWidgets::protocolComboAlwaysUsesTheMenu()
{
    QWidget window;
    auto* combo = new ProtocolCombo(&window);
    QCOMPARE(combo->objectName(), QStringLiteral("protocolSelector"));
    QStringList items;
    for (int index = 0; index < combo->count(); ++index) {
        items << combo->itemText(index);
    }
    QCOMPARE(items, QStringList({"串口", "TCP 客户端", "TCP 服务端", "UDP", "SSH"}));
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    combo->showPopup();
    QPointer<QMenu> menu = qobject_cast<QMenu*>(QApplication::activePopupWidget());
    QVERIFY(menu);
    QCOMPARE(menu->actions().size(), 5);
    QVERIFY(!combo->view()->isVisible());
    menu->close();
    QTRY_VERIFY(!menu);
}

void TestWidgets::statusLedStates_data()
{
    QTest::addColumn<bool>("dark");
    QTest::addColumn<int>("state");
    QTest::addColumn<QString>("lamp");
    QTest::newRow("light neutral") << false << 0 << "line";
    QTest::newRow("light green") << false << 1 << "#2b9e53";
    QTest::newRow("light amber") << false << 2 << "#c58220";
    QTest::newRow("light red") << false << 3 << "#ca513f";
    QTest::newRow("dark neutral") << true << 0 << "line";
    QTest::newRow("dark green") << true << 1 << "#6edf8d";
    QTest::newRow("dark amber") << true << 2 << "#f4c46b";
    QTest::newRow("dark red") << true << 3 << "#ff927c";
}

void TestWidgets::statusLedStates()
{
    QFETCH(bool, dark);
    QFETCH(int, state);
    QFETCH(QString, lamp);
    StatusLed led;
    QCOMPARE(led.size(), QSize(22, 22));
    QCOMPARE(led.sizePolicy().horizontalPolicy(), QSizePolicy::Fixed);
    QCOMPARE(led.state(), StatusLed::Neutral);
    led.theme = Theme::make(dark);
    led.setState(StatusLed::State(state));
    const QImage image = led.grab().toImage();
    const QColor expected = lamp == QLatin1String("line") ? led.theme.line : QColor(lamp);
    // Below the highlight, inside the lamp.
    QCOMPARE(image.pixelColor(12, 14), expected);
    // The glow reaches beyond the lamp only when lit.
    const QImage plain = [&] {
        StatusLed off;
        off.theme = led.theme;
        return off.grab().toImage();
    }();
    QCOMPARE(image.pixelColor(11, 3) != plain.pixelColor(11, 3), state != 0);
}

void TestWidgets::statusLedRepaintsOnlyOnChange()
{
    StatusLed led;
    led.show();
    QVERIFY(QTest::qWaitForWindowExposed(&led));
    PaintCounter paints;
    led.installEventFilter(&paints);
    led.setState(StatusLed::Neutral);
    led.setState(StatusLed::Green);
    QTRY_COMPARE(paints.count, 1);
    led.setState(StatusLed::Green);
    QApplication::processEvents();
    QCOMPARE(paints.count, 1);
    led.setState(StatusLed::Red);
    QTRY_COMPARE(paints.count, 2);
    QCOMPARE(led.state(), StatusLed::Red);
}

void TestWidgets::splitterHandlesAreGrips()
{
    Splitter splitter(Qt::Horizontal);
    QCOMPARE(splitter.orientation(), Qt::Horizontal);
    QCOMPARE(splitter.handleWidth(), 8);
    QVERIFY(!splitter.childrenCollapsible());
    splitter.addWidget(new QWidget);
    splitter.addWidget(new QWidget);
    splitter.addWidget(new QWidget);
    for (int index = 1; index < splitter.count(); ++index) {
        auto* grip = dynamic_cast<Grip*>(splitter.handle(index));
        QVERIFY(grip);
        QCOMPARE(grip->toolTip(), QStringLiteral("拖动调整大小，双击均分"));
        QCOMPARE(grip->orientation(), Qt::Horizontal);
    }
}

void TestWidgets::gripDoubleClickSharesEqually()
{
    for (const Qt::Orientation orientation : {Qt::Horizontal, Qt::Vertical}) {
        Splitter splitter(orientation);
        splitter.addWidget(new QWidget);
        splitter.addWidget(new QWidget);
        splitter.resize(408, 408);
        splitter.show();
        QVERIFY(QTest::qWaitForWindowExposed(&splitter));
        splitter.setSizes({100, 300});
        QCOMPARE(splitter.sizes(), QList<int>({100, 300}));
        QTest::mouseDClick(splitter.handle(1), Qt::LeftButton);
        QCOMPARE(splitter.sizes(), QList<int>({200, 200}));
        // Grips draw something when hovered (horizontal) or always (vertical dashes).
        QVERIFY(!splitter.handle(1)->grab().isNull());
    }
}

void TestWidgets::searchBoxSetUp()
{
    SearchBox box;
    QCOMPARE(box.objectName(), QStringLiteral("searchBox"));
    QVERIFY(!box.isClearButtonEnabled());
    QCOMPARE(box.textMargins(), QMargins(25, 0, 28, 0));
    QCOMPARE(box.minimumWidth(), 70);
    QCOMPARE(box.maximumWidth(), 260);
    IconButton* clear = box.findChild<IconButton*>(QStringLiteral("clearSearch"));
    QVERIFY(clear);
    QCOMPARE(clear, box.clearButton());
    QCOMPARE(clear->iconName(), QStringLiteral("close"));
    QCOMPARE(clear->toolTip(), QStringLiteral("清空搜索"));
    QCOMPARE(clear->size(), QSize(26, 26));
    QCOMPARE(clear->focusPolicy(), Qt::NoFocus);
    QVERIFY(clear->isHidden());
}

void TestWidgets::searchBoxClearButton()
{
    QWidget window;
    auto* layout = new QVBoxLayout(&window);
    auto* other = new QLineEdit;
    auto* box = new SearchBox;
    layout->addWidget(other);
    layout->addWidget(box);
    window.show();
    QVERIFY(QTest::qWaitForWindowActive(&window));
    box->resize(200, 36);
    IconButton* clear = box->clearButton();
    QCOMPARE(clear->pos(), QPoint(200 - 26 - 5, (36 - 26) / 2));

    QTest::keyClicks(box, QStringLiteral("error"));
    QVERIFY(clear->isVisible());
    other->setFocus();
    QTRY_VERIFY(other->hasFocus());
    QTest::mouseClick(clear, Qt::LeftButton);
    QCOMPARE(box->text(), QString());
    QVERIFY(clear->isHidden());
    QTRY_VERIFY(box->hasFocus());
    box->setText(QStringLiteral("x"));
    QVERIFY(clear->isVisible());
    box->setText(QString());
    QVERIFY(clear->isHidden());
}

void TestWidgets::connectionBarSetUp()
{
    ConnectionBar bar;
    QCOMPARE(bar.objectName(), QStringLiteral("connections"));
    QVERIFY(bar.middleClickClosing());
    QVERIFY(!bar.drawBase());
    QVERIFY(!bar.expanding());
    QVERIFY(bar.isMovable());
    QCOMPARE(bar.elideMode(), Qt::ElideRight);
    QVERIFY(bar.usesScrollButtons());
    QCOMPARE(bar.minimumWidth(), 0);
    QCOMPARE(bar.minimumSizeHint(), QSize(60, 45));
    QVERIFY(!bar.pageColor().isValid());
}

void TestWidgets::connectionBarTabWidths()
{
    ConnectionBar bar;
    const QString middle = QStringLiteral("COM3 115200 8N1");
    bar.addTab(QStringLiteral("A"));
    bar.addTab(QString(200, QLatin1Char('W')));
    bar.addTab(middle);
    bar.addTab(icon(QStringLiteral("wave"), Qt::black, 20), middle);
    const int advance = QFontMetrics(bar.font()).horizontalAdvance(middle);
    QVERIFY(advance + 100 < 230);
    QCOMPARE(bar.tabSizeHint(0), QSize(128, 45)); // very short: still 128
    QCOMPARE(bar.tabSizeHint(1), QSize(230, 45)); // very long: capped and elided
    QCOMPARE(bar.tabSizeHint(2).width(), std::max(128, advance + 80));
    QCOMPARE(bar.tabSizeHint(3).width(), std::max(128, advance + 100));
    int total = 0;
    for (int index = 0; index < bar.count(); ++index) {
        total += bar.tabSizeHint(index).width();
    }
    QCOMPARE(bar.sizeHint(), QSize(total, 45));
}

void TestWidgets::middleClickClosesOnlyTheSameTab()
{
    ConnectionBar bar;
    QObject first;
    QObject second;
    bar.addTab(QStringLiteral("一号"));
    bar.setTabData(0, QVariant::fromValue<QObject*>(&first));
    bar.addTab(QStringLiteral("二号"));
    bar.setTabData(1, QVariant::fromValue<QObject*>(&second));
    bar.resize(bar.sizeHint());
    bar.show();
    QVERIFY(QTest::qWaitForWindowExposed(&bar));
    QCOMPARE(bar.identity(0), &first);
    QCOMPARE(bar.identity(5), nullptr);
    QSignalSpy closing(&bar, &QTabBar::tabCloseRequested);
    const QPoint one = bar.tabRect(0).center();
    const QPoint two = bar.tabRect(1).center();

    sendMouse(&bar, QEvent::MouseButtonPress, one, Qt::MiddleButton, Qt::MiddleButton);
    sendMouse(&bar, QEvent::MouseButtonRelease, two, Qt::MiddleButton, Qt::NoButton);
    QCOMPARE(closing.count(), 0);

    sendMouse(&bar, QEvent::MouseButtonPress, two, Qt::MiddleButton, Qt::MiddleButton);
    sendMouse(&bar, QEvent::MouseButtonRelease, two, Qt::MiddleButton, Qt::NoButton);
    QCOMPARE(closing.count(), 1);
    QCOMPARE(closing.first().first().toInt(), 1);
    QCOMPARE(bar.count(), 2); // the owner decides whether the tab goes

    // A double-click forgets the press.
    sendMouse(&bar, QEvent::MouseButtonPress, one, Qt::MiddleButton, Qt::MiddleButton);
    sendMouse(&bar, QEvent::MouseButtonDblClick, one, Qt::MiddleButton, Qt::MiddleButton);
    sendMouse(&bar, QEvent::MouseButtonRelease, one, Qt::MiddleButton, Qt::NoButton);
    QCOMPARE(closing.count(), 1);
}

void TestWidgets::draggingATabOutOfTheBarTearsIt()
{
    QWidget window;
    window.resize(600, 300);
    auto* bar = new ConnectionBar(&window);
    QObject first;
    QObject second;
    bar->addTab(QStringLiteral("一号"));
    bar->setTabData(0, QVariant::fromValue<QObject*>(&first));
    bar->addTab(QStringLiteral("二号"));
    bar->setTabData(1, QVariant::fromValue<QObject*>(&second));
    bar->setGeometry(50, 50, bar->sizeHint().width(), 45);
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    QSignalSpy tears(bar, &TearTabBar::tearRequested);
    const QPoint start = bar->tabRect(1).center();

    // Within the grown rectangle (35 px to the side is inside the 36 px margin).
    sendMouse(bar, QEvent::MouseButtonPress, start, Qt::LeftButton, Qt::LeftButton);
    sendMouse(bar, QEvent::MouseMove, start + QPoint(3, 0), Qt::NoButton, Qt::LeftButton);
    sendMouse(bar, QEvent::MouseMove, QPoint(start.x(), 45 + 25), Qt::NoButton, Qt::LeftButton);
    QCOMPARE(tears.count(), 0);
    sendMouse(bar, QEvent::MouseButtonRelease, QPoint(start.x(), 45 + 25), Qt::LeftButton, Qt::NoButton);

    sendMouse(bar, QEvent::MouseButtonPress, start, Qt::LeftButton, Qt::LeftButton);
    const QPoint away(start.x(), 45 + 30);
    sendMouse(bar, QEvent::MouseMove, away, Qt::NoButton, Qt::LeftButton);
    QCOMPARE(tears.count(), 1);
    QCOMPARE(tears.first().at(0).toInt(), bar->tabRect(0).contains(start) ? 0 : 1);
    QCOMPARE(tears.first().at(1).toPoint(), bar->mapToGlobal(away));
    // The press is forgotten: moving on does not tear again.
    sendMouse(bar, QEvent::MouseMove, away + QPoint(0, 40), Qt::NoButton, Qt::LeftButton);
    QCOMPARE(tears.count(), 1);
}

void TestWidgets::factories()
{
    QWidget host;
    QHBoxLayout* row = horizontal(&host);
    QCOMPARE(host.layout(), row);
    QCOMPARE(row->contentsMargins(), QMargins(0, 0, 0, 0));
    QCOMPARE(row->spacing(), 8);
    delete horizontal(nullptr);

    std::unique_ptr<QPushButton> primary(button(QStringLiteral("保存"), QStringLiteral("primary")));
    QVERIFY(!primary->parent());
    QCOMPARE(primary->text(), QStringLiteral("保存"));
    QCOMPARE(primary->objectName(), QStringLiteral("primary"));
    QCOMPARE(primary->property("variant").toString(), QStringLiteral("primary"));
    QCOMPARE(primary->cursor().shape(), Qt::PointingHandCursor);

    std::unique_ptr<QLabel> caption(label(QStringLiteral("自定义帧解析"), QStringLiteral("section")));
    QCOMPARE(caption->text(), QStringLiteral("自定义帧解析"));
    QCOMPARE(caption->objectName(), QStringLiteral("section"));

    std::unique_ptr<Combo> fixed(combo({"utf-8", "GBK", "ASCII"}, QStringLiteral("GBK"), false));
    QCOMPARE(fixed->count(), 3);
    QCOMPARE(fixed->currentIndex(), 1);
    QVERIFY(!fixed->isEditable());
    std::unique_ptr<Combo> keep(combo({"utf-8", "GBK"}, QString(), false));
    QCOMPARE(keep->currentIndex(), 0);
    std::unique_ptr<Combo> editable(combo({"9600", "115200"}, QStringLiteral("250000"), true));
    QVERIFY(editable->isEditable());
    QCOMPARE(editable->currentText(), QStringLiteral("250000"));
    QCOMPARE(editable->lineEdit()->textMargins(), QMargins(0, 0, 0, 0));

    auto* content = new QWidget;
    content->setAutoFillBackground(true);
    std::unique_ptr<QScrollArea> area(scrollPanel(content, QStringLiteral("controlScroll")));
    QCOMPARE(area->objectName(), QStringLiteral("controlScroll"));
    QCOMPARE(area->frameShape(), QFrame::NoFrame);
    QVERIFY(area->widgetResizable());
    QCOMPARE(area->sizePolicy().horizontalPolicy(), QSizePolicy::Expanding);
    QCOMPARE(area->sizePolicy().verticalPolicy(), QSizePolicy::Ignored);
    QCOMPARE(area->minimumSize(), QSize(0, 0));
    QCOMPARE(area->widget(), content);
    QVERIFY(!content->autoFillBackground());
}

void TestWidgets::dialogBecomesScrollable()
{
    QDialog dialog;
    auto* layout = new QVBoxLayout(&dialog);
    layout->setSpacing(11);
    auto* title = new QLabel(QStringLiteral("传输文件"));
    layout->addWidget(title, 0, Qt::AlignRight);
    auto* nested = new QHBoxLayout;
    nested->addWidget(new QLineEdit);
    layout->addLayout(nested, 2);
    layout->addStretch(3);
    auto* tall = new QWidget;
    tall->setMinimumHeight(500);
    layout->addWidget(tall, 4);
    auto* buttons = horizontal(nullptr);
    buttons->addWidget(button(QStringLiteral("取消"), QStringLiteral("outline")));
    layout->addLayout(buttons);
    const QSize natural = layout->totalSizeHint();

    makeDialogScrollable(&dialog, QSize(480, 280));

    QCOMPARE(layout->count(), 2);
    auto* scroll = qobject_cast<QScrollArea*>(layout->itemAt(0)->widget());
    QVERIFY(scroll);
    QCOMPARE(scroll->objectName(), QStringLiteral("dialogContentScroll"));
    QCOMPARE(layout->stretch(0), 1);
    QCOMPARE(layout->itemAt(1)->layout(), buttons); // the button row stays below
    QWidget* content = scroll->widget();
    QCOMPARE(content->objectName(), QStringLiteral("dialogContent"));
    auto* contentLayout = qobject_cast<QVBoxLayout*>(content->layout());
    QVERIFY(contentLayout);
    QCOMPARE(contentLayout->contentsMargins(), QMargins(0, 0, 0, 0));
    QCOMPARE(contentLayout->spacing(), 11);
    QCOMPARE(contentLayout->count(), 4);
    QCOMPARE(contentLayout->itemAt(0)->widget(), title);
    QCOMPARE(contentLayout->itemAt(0)->alignment(), Qt::AlignRight);
    QCOMPARE(contentLayout->itemAt(1)->layout(), nested);
    QCOMPARE(contentLayout->stretch(1), 2);
    QVERIFY(contentLayout->itemAt(2)->spacerItem());
    QCOMPARE(contentLayout->stretch(2), 3);
    QCOMPARE(contentLayout->itemAt(3)->widget(), tall);
    QCOMPARE(contentLayout->stretch(3), 4);
    QCOMPARE(title->parentWidget(), content);

    QCOMPARE(dialog.minimumSize(), QSize(480, 280));
    QVERIFY(dialog.isSizeGripEnabled());
    QVERIFY(dialog.windowFlags().testFlag(Qt::WindowMaximizeButtonHint));
    QCOMPARE(dialog.size(), QSize(std::max(480, natural.width()), std::max(280, natural.height())));

    // A dialog that was resized before keeps that size when it is larger.
    QDialog sized;
    auto* small = new QVBoxLayout(&sized);
    small->addWidget(new QLabel(QStringLiteral("内容")));
    small->addWidget(new QPushButton(QStringLiteral("确定")));
    sized.resize(700, 200);
    makeDialogScrollable(&sized, QSize(440, 260));
    QCOMPARE(sized.size(), QSize(700, 260));

    // A dialog without a box layout is left alone.
    QDialog bare;
    makeDialogScrollable(&bare, QSize(100, 100));
    QVERIFY(!bare.layout());
}

void TestWidgets::keyboardFocusIsMarkedOnlyForKeyboard()
{
    // The button motion's glow paints in the latest sheet's palette: match the buttons'.
    Theme().stylesheet();
    QWidget window;
    auto* layout = new QVBoxLayout(&window);
    auto* first = new QPushButton(QStringLiteral("一"));
    auto* second = new QPushButton(QStringLiteral("二"));
    auto* third = new IconButton(QStringLiteral("play"), QStringLiteral("三"));
    for (QAbstractButton* button : {static_cast<QAbstractButton*>(first), static_cast<QAbstractButton*>(second),
                                    static_cast<QAbstractButton*>(third)}) {
        button->setFocusPolicy(Qt::StrongFocus);
        layout->addWidget(button);
    }
    window.show();
    QVERIFY(QTest::qWaitForWindowActive(&window));

    QTest::mouseClick(first, Qt::LeftButton);
    QTRY_VERIFY(first->hasFocus());
    QVERIFY(!first->property("keyboardFocus").toBool());

    QTest::keyClick(&window, Qt::Key_Tab);
    QTRY_VERIFY(second->hasFocus());
    QVERIFY(second->property("keyboardFocus").toBool());

    QTest::keyClick(&window, Qt::Key_Tab);
    QTRY_VERIFY(third->hasFocus());
    QVERIFY(third->property("keyboardFocus").toBool());
    // A keyboard-focused icon button shows the accent colour.
    QCOMPARE(pixelAt(*third, inTriangle), third->theme.accent);

    // The next mouse press removes the mark.
    QTest::mousePress(third, Qt::LeftButton);
    QVERIFY(!third->property("keyboardFocus").toBool());
    QTest::mouseRelease(third, Qt::LeftButton);
    sendLeave(third);
    QTRY_COMPARE(pixelAt(*third, inTriangle), third->theme.text);

    // A key press on a mouse-focused button marks it.
    QTest::mouseClick(first, Qt::LeftButton);
    QTRY_VERIFY(first->hasFocus());
    QVERIFY(!first->property("keyboardFocus").toBool());
    QTest::keyClick(first, Qt::Key_Shift);
    QVERIFY(first->property("keyboardFocus").toBool());

    // Focus that returns with the window keeps the mark as it was.
    first->setFocus(Qt::ActiveWindowFocusReason);
    QVERIFY(first->property("keyboardFocus").toBool());
    second->setFocus(Qt::MouseFocusReason);
    QVERIFY(!second->property("keyboardFocus").toBool());
}

QTEST_MAIN(TestWidgets)
#include "tst_Widgets.moc"
