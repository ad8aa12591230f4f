#include "ui/kit/ButtonMotion.h"

#include <QAbstractButton>
#include <QEvent>
#include <QPainter>

#include <algorithm>
#include <cmath>

namespace vn {

namespace {

bool keyboardFocused(const QWidget* widget)
{
    return widget->hasFocus() && widget->property("keyboardFocus").toBool();
}

QColor withAlpha(QColor colour, double alpha)
{
    colour.setAlpha(static_cast<int>(std::lround(alpha)));
    return colour;
}

bool accentFilled(const QAbstractButton* button)
{
    const QString name = button->objectName();
    return name == QLatin1String("primary") || name == QLatin1String("addSerialControl")
           || name == QLatin1String("serialMonitorSend");
}

} // namespace

ButtonMotion::ButtonMotion(QAbstractButton* decorated)
    : QWidget(decorated)
    , button(decorated)
{
    setObjectName(QStringLiteral("buttonMotion"));
    setAttribute(Qt::WA_TransparentForMouseEvents);
    setAttribute(Qt::WA_NoSystemBackground);
    setFocusPolicy(Qt::NoFocus);
    setGeometry(button->rect());
    button->installEventFilter(this);
    bind(hoverAnimation, hover);
    bind(pressAnimation, press);
    bind(checkedAnimation, checked);
    checked = button->isChecked() ? 1.0 : 0.0;
    connect(button, &QAbstractButton::pressed, this, [this] {
        if (button->isEnabled()) {
            animate(pressAnimation, press, 1.0, 85);
        }
    });
    connect(button, &QAbstractButton::released, this, [this] {
        if (!button->isEnabled()) {
            reset();
            return;
        }
        // A click shorter than the press motion still shows a press.
        press = std::max(press, 0.35);
        animate(pressAnimation, press, 0.0, 140);
    });
    connect(button, &QAbstractButton::toggled, this,
            [this](bool on) { animate(checkedAnimation, checked, on ? 1.0 : 0.0, 150); });
    trackParents();
    show();
    raise();
}

ButtonMotion::~ButtonMotion()
{
    for (const QPointer<QObject>& parent : std::as_const(parents)) {
        if (parent) {
            parent->removeEventFilter(this);
        }
    }
    delete halo.data();
}

void ButtonMotion::bind(QVariantAnimation& animation, double& level)
{
    animation.setEasingCurve(QEasingCurve::OutCubic);
    connect(&animation, &QVariantAnimation::valueChanged, this, [this, &level](const QVariant& value) {
        level = value.toDouble();
        update();
        syncHalo();
    });
}

void ButtonMotion::animate(QVariantAnimation& animation, double from, double to, int milliseconds)
{
    animation.stop();
    animation.setDuration(milliseconds);
    animation.setStartValue(from);
    animation.setEndValue(to);
    animation.start(QAbstractAnimation::KeepWhenStopped);
}

bool ButtonMotion::running() const
{
    return hoverAnimation.state() == QAbstractAnimation::Running
           || pressAnimation.state() == QAbstractAnimation::Running
           || checkedAnimation.state() == QAbstractAnimation::Running;
}

void ButtonMotion::reset()
{
    hoverAnimation.stop();
    pressAnimation.stop();
    checkedAnimation.stop();
    hover = 0.0;
    press = 0.0;
    checked = button->isChecked() ? 1.0 : 0.0;
    update();
    syncHalo();
}

void ButtonMotion::trackParents()
{
    for (const QPointer<QObject>& parent : std::as_const(parents)) {
        if (parent) {
            parent->removeEventFilter(this);
        }
    }
    parents.clear();
    for (QWidget* ancestor = button->parentWidget(); ancestor; ancestor = ancestor->parentWidget()) {
        parents.append(ancestor);
        ancestor->installEventFilter(this);
        if (ancestor->isWindow()) {
            break;
        }
    }
    QWidget* window = button->window();
    if (!halo) {
        halo = new ButtonHalo(button, this, window);
    } else if (halo->parentWidget() != window) {
        halo->setParent(window);
    }
    syncHalo();
}

void ButtonMotion::syncHalo()
{
    QWidget* window = button->window();
    if (!halo || halo->parentWidget() != window) {
        return;
    }
    halo->setGeometry(QRect(button->mapTo(window, QPoint(0, 0)), button->size()));
    const bool wanted = keyboardFocused(button);
    if (button->isVisible() && button->isEnabled()) {
        halo->setVisible(wanted);
        if (wanted) {
            halo->raise();
            halo->update();
        }
    } else {
        halo->hide();
    }
}

bool ButtonMotion::eventFilter(QObject* watched, QEvent* event)
{
    if (watched != button) {
        switch (event->type()) {
        case QEvent::Move:
        case QEvent::Resize:
        case QEvent::Show:
        case QEvent::Hide:
        case QEvent::LayoutRequest:
            syncHalo();
            break;
        default:
            break;
        }
        return false;
    }
    if (!qobject_cast<QAbstractButton*>(watched)) {
        return false; // the button is being destroyed and is a plain widget by now
    }
    switch (event->type()) {
    case QEvent::Enter:
        if (button->isEnabled()) {
            animate(hoverAnimation, hover, 1.0, 155);
        }
        break;
    case QEvent::Leave:
        animate(hoverAnimation, hover, 0.0, 155);
        animate(pressAnimation, press, 0.0, 140);
        break;
    case QEvent::Hide:
    case QEvent::EnabledChange:
        reset();
        break;
    case QEvent::FocusIn:
    case QEvent::FocusOut:
    case QEvent::PaletteChange:
    case QEvent::StyleChange:
        update();
        syncHalo();
        break;
    case QEvent::Move:
        syncHalo();
        break;
    case QEvent::Resize:
        setGeometry(button->rect());
        syncHalo();
        break;
    case QEvent::Show:
        setGeometry(button->rect());
        show();
        raise();
        break;
    case QEvent::ParentChange:
        trackParents();
        break;
    default:
        break;
    }
    return false;
}

void ButtonMotion::paintEvent(QPaintEvent*)
{
    if (!button->isEnabled()) {
        return;
    }
    const double focus = keyboardFocused(button) ? 1.0 : 0.0;
    const double emphasis = std::max({focus, 0.8 * checked, hover});
    if (emphasis < 0.001 && press < 0.001) {
        return;
    }
    const Theme& theme = buttonMotionTheme();
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    const QRectF area(1, 1, width() - 2, height() - 2);
    const double radius = std::min(6.0, (height() - 2) / 3.0);
    const bool filled = accentFilled(button);

    const QColor glow = filled ? withAlpha(Qt::white, 16 * emphasis) : withAlpha(theme.accent, 18 * emphasis);
    painter.setPen(QPen(withAlpha(theme.accent, 55 * checked), focus == 1.0 ? 1.5 : 1.0, Qt::SolidLine));
    painter.setBrush(glow);
    painter.drawRoundedRect(area, radius, radius);

    if (press > 0.001) {
        painter.setPen(Qt::NoPen);
        painter.setBrush(filled ? withAlpha(Qt::black, 20 * press) : withAlpha(theme.accent, 24 * press));
        painter.drawRoundedRect(area, radius, radius);
    }
}

ButtonHalo::ButtonHalo(QAbstractButton* decorated, ButtonMotion* owner, QWidget* window)
    : QWidget(window)
    , button(decorated)
    , motion(owner)
{
    setObjectName(QStringLiteral("buttonHalo"));
    setAttribute(Qt::WA_TransparentForMouseEvents);
    setAttribute(Qt::WA_NoSystemBackground);
    setFocusPolicy(Qt::NoFocus);
    hide();
}

void ButtonHalo::paintEvent(QPaintEvent*)
{
    if (!button || !button->isEnabled() || !button->isVisible() || !keyboardFocused(button)) {
        return;
    }
    const bool onRail = button->parentWidget()
                        && button->parentWidget()->objectName() == QLatin1String("rail");
    QColor colour = onRail ? QColor(0xd7, 0xdf, 0xc4) : buttonMotionTheme().text;
    colour.setAlpha(200);
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setBrush(Qt::NoBrush);
    painter.setPen(QPen(colour, 1.1, Qt::SolidLine));
    painter.drawRoundedRect(QRectF(1.5, 1.5, width() - 3, height() - 3), 5, 5);
}

} // namespace vn
