#include "ui/kit/ButtonMotion.h"
#include "ui/kit/IconButton.h"
#include "ui/kit/Theme.h"

#include <QApplication>
#include <QCheckBox>
#include <QMenu>
#include <QPushButton>
#include <QRadioButton>
#include <QStyle>
#include <QStyleOptionButton>
#include <QTest>
#include <QToolButton>
#include <QVBoxLayout>

using namespace vn;

namespace {

ButtonMotion* motionOf(QAbstractButton* button)
{
    const auto found = button->findChildren<ButtonMotion*>(QString(), Qt::FindDirectChildrenOnly);
    return found.size() == 1 ? found.first() : nullptr;
}

CheckBoxMotion* motionOf(QCheckBox* box)
{
    const auto found = box->findChildren<CheckBoxMotion*>(QString(), Qt::FindDirectChildrenOnly);
    return found.size() == 1 ? found.first() : nullptr;
}

// What the overlay itself paints, on transparency.
QImage paintedBy(QWidget* overlay)
{
    QImage image(overlay->size(), QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    overlay->render(&image, QPoint(), QRegion(), QWidget::RenderFlags());
    return image;
}

bool blank(const QImage& image)
{
    for (int y = 0; y < image.height(); ++y) {
        for (int x = 0; x < image.width(); ++x) {
            if (qAlpha(image.pixel(x, y)) != 0) {
                return false;
            }
        }
    }
    return true;
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

class PaintCounter : public QObject {
public:
    int count = 0;
    bool eventFilter(QObject*, QEvent* event) override
    {
        count += event->type() == QEvent::Paint ? 1 : 0;
        return false;
    }
};

struct Window {
    QWidget widget;
    QVBoxLayout* layout = new QVBoxLayout(&widget);

    template <typename T>
    T* add(T* child)
    {
        layout->addWidget(child);
        return child;
    }
    bool show()
    {
        widget.show();
        return QTest::qWaitForWindowActive(&widget);
    }
};

} // namespace

class TestMotion : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void initTestCase();
    void init();

    void buttonsGetOneMotionEach();
    void overlayCoversItsButton();
    void hoverEasesInAndOut();
    void shortClickStillShowsAPress();
    void leavingAPressedButtonFadesBoth();
    void checkedLevelFollowsToggle();
    void disabledButtonsShowNothing();
    void overlayPaintsTheGlow_data();
    void overlayPaintsTheGlow();
    void haloOnlyForKeyboardFocus();
    void railHaloUsesFixedColour();
    void reparentedButtonMovesItsHalo();
    void checkBoxAnimatesItsMark();
    void partiallyCheckedShowsABar();
    void menusFadeInRounded();
    void newThemeRepaintsExistingOverlays();
};

void TestMotion::initTestCase()
{
    Theme().stylesheet();
}

void TestMotion::init()
{
    installButtonMotion(Theme());
}

void TestMotion::buttonsGetOneMotionEach()
{
    Window window;
    auto* push = window.add(new QPushButton(QStringLiteral("发送")));
    auto* tool = window.add(new QToolButton);
    auto* iconButton = window.add(new IconButton(QStringLiteral("gear"), QStringLiteral("设置")));
    auto* radio = window.add(new QRadioButton(QStringLiteral("单选")));
    auto* box = window.add(new QCheckBox(QStringLiteral("启用")));
    QVERIFY(window.show());
    for (int round = 0; round < 3; ++round) {
        window.widget.hide();
        window.widget.show();
        push->style()->unpolish(push);
        push->style()->polish(push);
        QApplication::processEvents();
    }
    QVERIFY(motionOf(push));
    QVERIFY(motionOf(tool));
    QVERIFY(motionOf(static_cast<QAbstractButton*>(iconButton)));
    QVERIFY(radio->findChildren<ButtonMotion*>().isEmpty());
    QVERIFY(box->findChildren<ButtonMotion*>().isEmpty());
    QVERIFY(motionOf(box));
    QVERIFY(box->property("animatedCheck").toBool());
}

void TestMotion::overlayCoversItsButton()
{
    Window window;
    auto* push = window.add(new QPushButton(QStringLiteral("发送")));
    QVERIFY(window.show());
    ButtonMotion* motion = motionOf(push);
    QVERIFY(motion);
    QCOMPARE(motion->objectName(), QStringLiteral("buttonMotion"));
    QVERIFY(motion->testAttribute(Qt::WA_TransparentForMouseEvents));
    QVERIFY(motion->testAttribute(Qt::WA_NoSystemBackground));
    QCOMPARE(motion->focusPolicy(), Qt::NoFocus);
    QVERIFY(motion->isVisible());
    QCOMPARE(motion->geometry(), push->rect());
    push->setMinimumSize(180, 60);
    QTRY_COMPARE(motion->geometry(), push->rect());
    QCOMPARE(push->size(), QSize(push->width(), std::max(60, push->height())));
    QVERIFY(!motion->running());
    QVERIFY(blank(paintedBy(motion))); // at rest it paints nothing
}

void TestMotion::hoverEasesInAndOut()
{
    Window window;
    auto* push = window.add(new QPushButton(QStringLiteral("发送")));
    QVERIFY(window.show());
    ButtonMotion* motion = motionOf(push);
    sendEnter(push);
    QCOMPARE(motion->hoverAnimation.duration(), 155);
    QCOMPARE(motion->hoverAnimation.easingCurve().type(), QEasingCurve::OutCubic);
    QVERIFY(motion->running());
    QTRY_COMPARE(motion->hover, 1.0);
    QVERIFY(!blank(paintedBy(motion)));
    sendLeave(push);
    QTRY_COMPARE(motion->hover, 0.0);
    QTRY_VERIFY(!motion->running());
}

void TestMotion::shortClickStillShowsAPress()
{
    Window window;
    auto* push = window.add(new QPushButton(QStringLiteral("发送")));
    QVERIFY(window.show());
    ButtonMotion* motion = motionOf(push);
    QTest::mousePress(push, Qt::LeftButton);
    QCOMPARE(motion->pressAnimation.duration(), 85);
    QCOMPARE(motion->pressAnimation.endValue().toDouble(), 1.0);
    QTest::mouseRelease(push, Qt::LeftButton);
    QVERIFY(motion->pressAnimation.startValue().toDouble() >= 0.35);
    QCOMPARE(motion->pressAnimation.duration(), 140);
    QCOMPARE(motion->pressAnimation.endValue().toDouble(), 0.0);
    QTRY_COMPARE(motion->press, 0.0);
}

void TestMotion::leavingAPressedButtonFadesBoth()
{
    Window window;
    auto* push = window.add(new QPushButton(QStringLiteral("发送")));
    QVERIFY(window.show());
    ButtonMotion* motion = motionOf(push);
    sendEnter(push);
    QTest::mousePress(push, Qt::LeftButton);
    QTRY_VERIFY(motion->press > 0.5 && motion->hover > 0.5);
    sendLeave(push);
    QCOMPARE(motion->hoverAnimation.endValue().toDouble(), 0.0);
    QCOMPARE(motion->pressAnimation.endValue().toDouble(), 0.0);
    QCOMPARE(motion->pressAnimation.duration(), 140);
    QTRY_VERIFY(motion->press == 0.0 && motion->hover == 0.0);
    QTest::mouseRelease(push, Qt::LeftButton, {}, QPoint(-50, -50));
}

void TestMotion::checkedLevelFollowsToggle()
{
    Window window;
    auto* push = window.add(new QPushButton(QStringLiteral("循环")));
    push->setCheckable(true);
    push->setChecked(true);
    QVERIFY(window.show());
    ButtonMotion* motion = motionOf(push);
    QCOMPARE(motion->checked, 1.0);
    push->setChecked(false);
    QCOMPARE(motion->checkedAnimation.duration(), 150);
    QTRY_COMPARE(motion->checked, 0.0);
    push->setChecked(true);
    QTRY_COMPARE(motion->checked, 1.0);
}

void TestMotion::disabledButtonsShowNothing()
{
    Window window;
    auto* push = window.add(new QPushButton(QStringLiteral("发送")));
    push->setCheckable(true);
    QVERIFY(window.show());
    ButtonMotion* motion = motionOf(push);
    sendEnter(push);
    QTRY_COMPARE(motion->hover, 1.0);
    push->setEnabled(false);
    QCOMPARE(motion->hover, 0.0);
    QVERIFY(!motion->running());
    sendEnter(push);
    QVERIFY(!motion->running());
    QCOMPARE(motion->hover, 0.0);
    motion->hover = 0.8;
    QVERIFY(blank(paintedBy(motion)));

    // A release reaching a disabled button snaps to rest, checked to the state.
    push->setChecked(true);
    motion->press = 0.6;
    Q_EMIT push->released();
    QCOMPARE(motion->hover, 0.0);
    QCOMPARE(motion->press, 0.0);
    QCOMPARE(motion->checked, 1.0);
}

void TestMotion::overlayPaintsTheGlow_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<bool>("filled");
    QTest::newRow("plain") << QString() << false;
    QTest::newRow("outline") << QStringLiteral("outline") << false;
    QTest::newRow("primary") << QStringLiteral("primary") << true;
    QTest::newRow("add control") << QStringLiteral("addSerialControl") << true;
    QTest::newRow("monitor send") << QStringLiteral("serialMonitorSend") << true;
}

void TestMotion::overlayPaintsTheGlow()
{
    QFETCH(QString, name);
    QFETCH(bool, filled);
    Window window;
    auto* push = window.add(new QPushButton(QStringLiteral("发送")));
    push->setObjectName(name);
    push->setFixedSize(120, 40);
    QVERIFY(window.show());
    ButtonMotion* motion = motionOf(push);
    motion->hover = 1.0;
    QImage image = paintedBy(motion);
    QColor glow = image.pixelColor(60, 20);
    QCOMPARE(glow.alpha(), filled ? 16 : 18);
    if (filled) {
        QCOMPARE(glow.rgb(), QColor(Qt::white).rgb());
    }
    motion->hover = 0.0;
    motion->press = 1.0;
    image = paintedBy(motion);
    glow = image.pixelColor(60, 20);
    QCOMPARE(glow.alpha(), filled ? 20 : 24);
    QVERIFY(qAlpha(image.pixel(0, 0)) == 0); // the rounded corner stays clear
}

void TestMotion::haloOnlyForKeyboardFocus()
{
    Window window;
    auto* first = window.add(new QPushButton(QStringLiteral("一")));
    auto* second = window.add(new QPushButton(QStringLiteral("二")));
    QVERIFY(window.show());
    ButtonMotion* motion = motionOf(second);
    QVERIFY(motion->halo);
    QCOMPARE(motion->halo->objectName(), QStringLiteral("buttonHalo"));
    QCOMPARE(motion->halo->parentWidget(), &window.widget);
    QVERIFY(!motion->halo->isVisible());

    QTest::mouseClick(second, Qt::LeftButton);
    QTRY_VERIFY(second->hasFocus());
    QVERIFY(!motion->halo->isVisible());

    QTest::mouseClick(first, Qt::LeftButton);
    QTRY_VERIFY(first->hasFocus());
    QTest::keyClick(&window.widget, Qt::Key_Tab);
    QTRY_VERIFY(second->hasFocus());
    QTRY_VERIFY(motion->halo->isVisible());
    QCOMPARE(motion->halo->geometry(), QRect(second->mapTo(&window.widget, QPoint(0, 0)), second->size()));
    QVERIFY(!blank(paintedBy(motion))); // the 1.5 px keyboard outline and glow

    QTest::mousePress(second, Qt::LeftButton);
    QTRY_VERIFY(!motion->halo->isVisible());
    QTest::mouseRelease(second, Qt::LeftButton);
    second->hide();
    QVERIFY(!motion->halo->isVisible());
}

void TestMotion::railHaloUsesFixedColour()
{
    for (const bool dark : {false, true}) {
        installButtonMotion(Theme::make(dark));
        QWidget window;
        auto* layout = new QVBoxLayout(&window);
        auto* rail = new QWidget;
        rail->setObjectName(QStringLiteral("rail"));
        auto* railLayout = new QVBoxLayout(rail);
        auto* button = new IconButton(QStringLiteral("plus"), QStringLiteral("新建"));
        railLayout->addWidget(button);
        layout->addWidget(rail);
        auto* before = new QPushButton(QStringLiteral("前"));
        layout->insertWidget(0, before);
        window.show();
        QVERIFY(QTest::qWaitForWindowActive(&window));
        before->setFocus(Qt::MouseFocusReason);
        QTest::keyClick(&window, Qt::Key_Tab);
        QTRY_VERIFY(button->hasFocus());
        ButtonMotion* motion = motionOf(button);
        QTRY_VERIFY(motion->halo->isVisible());
        const QImage ring = paintedBy(motion->halo);
        // The left edge of the ring, unpremultiplied.
        const QColor edge = ring.pixelColor(1, ring.height() / 2).toRgb();
        QVERIFY(edge.alpha() > 0);
        QVERIFY(std::abs(edge.red() - 0xd7) <= 3);
        QVERIFY(std::abs(edge.green() - 0xdf) <= 3);
        QVERIFY(std::abs(edge.blue() - 0xc4) <= 3);
    }
}

void TestMotion::reparentedButtonMovesItsHalo()
{
    Window one;
    Window two;
    auto* holder = two.add(new QWidget);
    new QVBoxLayout(holder);
    auto* push = one.add(new QPushButton(QStringLiteral("移动")));
    QVERIFY(one.show());
    QVERIFY(two.show());
    ButtonMotion* motion = motionOf(push);
    QPointer<ButtonHalo> halo = motion->halo;
    QCOMPARE(halo->parentWidget(), &one.widget);
    QCOMPARE(motion->parents.size(), 1);

    holder->layout()->addWidget(push);
    push->show();
    QTRY_COMPARE(halo->parentWidget(), &two.widget);
    QCOMPARE(motion->halo, halo);
    QCOMPARE(motion->parents.size(), 2);
    QCOMPARE(motion->parents.at(0).data(), holder);
    QCOMPARE(motion->parents.at(1).data(), &two.widget);

    // The halo follows keyboard focus in the new window.
    push->setFocus(Qt::TabFocusReason);
    QTRY_VERIFY(halo->isVisible());
    QCOMPARE(halo->geometry(), QRect(push->mapTo(&two.widget, QPoint(0, 0)), push->size()));
}

void TestMotion::checkBoxAnimatesItsMark()
{
    Window window;
    auto* box = window.add(new QCheckBox(QStringLiteral("启用脚本")));
    QVERIFY(window.show());
    CheckBoxMotion* motion = motionOf(box);
    QVERIFY(motion);
    QCOMPARE(motion->objectName(), QStringLiteral("checkBoxMotion"));
    QCOMPARE(motion->animation.duration(), 160);
    QCOMPARE(motion->animation.easingCurve().type(), QEasingCurve::OutCubic);
    QCOMPARE(motion->geometry(), box->rect());
    QCOMPARE(motion->progress, 0.0);
    const QImage unchecked = paintedBy(motion);
    QVERIFY(!blank(unchecked)); // the empty box is drawn by the overlay

    QTest::mouseClick(box, Qt::LeftButton);
    QVERIFY(box->isChecked());
    QVERIFY(motion->animation.state() == QAbstractAnimation::Running);
    QTRY_COMPARE(motion->progress, 1.0);
    QVERIFY(paintedBy(motion) != unchecked);

    box->setChecked(false);
    QTRY_COMPARE(motion->progress, 0.0);

    // Hiding settles at once.
    box->setChecked(true);
    box->hide();
    QCOMPARE(motion->progress, 1.0);
    QVERIFY(motion->animation.state() != QAbstractAnimation::Running);
}

void TestMotion::partiallyCheckedShowsABar()
{
    Window window;
    auto* tick = window.add(new QCheckBox(QStringLiteral("全部")));
    auto* bar = window.add(new QCheckBox(QStringLiteral("全部")));
    bar->setTristate(true);
    QVERIFY(window.show());
    tick->setCheckState(Qt::Checked);
    bar->setCheckState(Qt::PartiallyChecked);
    CheckBoxMotion* tickMotion = motionOf(tick);
    CheckBoxMotion* barMotion = motionOf(bar);
    QCOMPARE(barMotion->animation.endValue().toDouble(), 1.0);
    QTRY_COMPARE(barMotion->progress, 1.0);
    QTRY_COMPARE(tickMotion->progress, 1.0);
    const QImage ticked = paintedBy(tickMotion);
    const QImage barred = paintedBy(barMotion);
    QVERIFY(ticked != barred);
    // The bar crosses the centre of the indicator in the on-accent colour.
    QStyleOptionButton option;
    option.initFrom(bar);
    const QRect indicator = bar->style()->subElementRect(QStyle::SE_CheckBoxIndicator, &option, bar);
    const QColor centre = barred.pixelColor(indicator.center());
    const QColor onaccent = Theme().onaccent;
    QVERIFY(std::abs(centre.red() - onaccent.red()) < 40);
    QVERIFY(std::abs(centre.green() - onaccent.green()) < 40);
}

void TestMotion::menusFadeInRounded()
{
    QWidget window;
    window.resize(200, 200);
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    QMenu menu(&window);
    menu.addAction(QStringLiteral("复制"));
    menu.addAction(QStringLiteral("粘贴"));
    menu.popup(window.mapToGlobal(QPoint(10, 10)));
    QTRY_VERIFY(menu.isVisible());
    QVERIFY(menu.property("roundedPopup").toBool());
    QVERIFY(menu.windowFlags().testFlag(Qt::FramelessWindowHint));
    QVERIFY(menu.windowFlags().testFlag(Qt::NoDropShadowWindowHint));
    QVERIFY(!QApplication::isEffectEnabled(Qt::UI_AnimateMenu));
    QVERIFY(!QApplication::isEffectEnabled(Qt::UI_FadeMenu));
    QVERIFY(!QApplication::isEffectEnabled(Qt::UI_AnimateCombo));
    auto* fade = menu.findChild<QVariantAnimation*>(QStringLiteral("popupFade"));
    QVERIFY(fade);
    QCOMPARE(fade->duration(), 120);
    QCOMPARE(fade->easingCurve().type(), QEasingCurve::OutCubic);
    QVERIFY(menu.windowOpacity() < 1.0);
    QTRY_VERIFY(!menu.mask().isEmpty());
    QVERIFY(!menu.mask().contains(QPoint(0, 0)));

    // Hidden mid-fade: fully opaque for the next time.
    menu.hide();
    QCOMPARE(menu.windowOpacity(), 1.0);
    QVERIFY(fade->state() != QAbstractAnimation::Running);

    menu.popup(window.mapToGlobal(QPoint(10, 10)));
    QTRY_VERIFY(menu.isVisible());
    QCOMPARE(menu.findChildren<QVariantAnimation*>(QStringLiteral("popupFade")).size(), 1);
    QTRY_COMPARE(menu.windowOpacity(), 1.0);
    menu.hide();
}

void TestMotion::newThemeRepaintsExistingOverlays()
{
    Window window;
    auto* push = window.add(new QPushButton(QStringLiteral("发送")));
    QVERIFY(window.show());
    ButtonMotion* motion = motionOf(push);
    motion->hover = 1.0;
    const QImage light = paintedBy(motion);
    PaintCounter paints;
    motion->installEventFilter(&paints);
    installButtonMotion(Theme::make(true));
    QTRY_VERIFY(paints.count > 0);
    QCOMPARE(motionOf(push), motion);
    QVERIFY(paintedBy(motion) != light);
}

QTEST_MAIN(TestMotion)
#include "tst_Motion.moc"
