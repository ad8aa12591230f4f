#include "ui/kit/IconButton.h"

#include "ui/kit/ButtonFocusFeedback.h"
#include "ui/kit/IconPainter.h"

#include <QPainter>

#include <algorithm>

namespace vn {

IconButton::IconButton(const QString& iconName, const QString& text, QWidget* parent)
    : QAbstractButton(parent)
    , m_iconName(iconName)
{
    installButtonFocusFeedback();
    setFixedSize(36, 36);
    setCursor(Qt::PointingHandCursor);
    setFocusPolicy(Qt::StrongFocus);
    setText(text);
    setToolTip(text);
    setAccessibleName(text);

    m_hoverAnimation.setDuration(165);
    m_hoverAnimation.setEasingCurve(QEasingCurve::OutCubic);
    connect(&m_hoverAnimation, &QVariantAnimation::valueChanged, this, [this](const QVariant& value) {
        m_hover = value.toDouble();
        update();
    });

    m_spin.setDuration(480);
    m_spin.setEasingCurve(QEasingCurve::InOutCubic);
    m_spin.setStartValue(0.0);
    m_spin.setEndValue(360.0);
    connect(&m_spin, &QVariantAnimation::valueChanged, this, [this](const QVariant& value) {
        m_angle = value.toDouble();
        update();
    });
    connect(&m_spin, &QVariantAnimation::finished, this, [this] {
        m_angle = 0.0;
        update();
        if (m_pendingTurn) {
            m_pendingTurn = false;
            m_spin.start();
        }
    });
    connect(this, &QAbstractButton::toggled, this, [this] { update(); });
}

void IconButton::setIconName(const QString& name)
{
    if (name != m_iconName) {
        m_iconName = name;
        update();
    }
}

QSize IconButton::sizeHint() const
{
    return {36, 36};
}

void IconButton::turnGear()
{
    spinGear();
}

void IconButton::spinGear()
{
    if (m_iconName != QLatin1String("gear") || !isEnabled()) {
        return;
    }
    // A turn asked for mid-turn follows once the current one ends.
    if (m_spin.state() == QAbstractAnimation::Running) {
        m_pendingTurn = true;
    } else {
        m_spin.start();
    }
}

void IconButton::hoverTo(double target)
{
    m_hoverAnimation.stop();
    m_hoverAnimation.setStartValue(m_hover);
    m_hoverAnimation.setEndValue(target);
    m_hoverAnimation.start();
}

void IconButton::enterEvent(QEnterEvent* event)
{
    hoverTo(1.0);
    spinGear();
    QAbstractButton::enterEvent(event);
}

void IconButton::leaveEvent(QEvent* event)
{
    hoverTo(0.0);
    spinGear();
    QAbstractButton::leaveEvent(event);
}

void IconButton::paintEvent(QPaintEvent*)
{
    const bool onRail = parentWidget() && parentWidget()->objectName() == QLatin1String("rail");
    const QColor resting = onRail ? QColor(0xd7, 0xdf, 0xc4) : theme.text;
    const QColor highlight = onRail ? QColor(0xed, 0xaa, 0x50) : theme.accent;

    double factor = std::clamp(m_hover, 0.0, 1.0);
    if (isChecked() || (hasFocus() && property("keyboardFocus").toBool())) {
        factor = 1.0;
    }
    QColor colour = theme.line;
    if (isEnabled()) {
        auto mix = [factor](int from, int to) { return static_cast<int>(from + (to - from) * factor); };
        colour = QColor(mix(resting.red(), highlight.red()), mix(resting.green(), highlight.green()),
                        mix(resting.blue(), highlight.blue()));
    }

    const bool large = m_iconName == QLatin1String("lightning") || m_iconName == QLatin1String("port");
    const int side = std::min(large ? 28 : 22, std::min(width(), height()) - 5);
    const QRectF square((width() - side) / 2.0, (height() - side) / 2.0, side, side);
    const QString drawn = isChecked() && m_iconName == QLatin1String("pause") ? QStringLiteral("play") : m_iconName;

    QPainter painter(this);
    drawIcon(painter, drawn, square, colour, m_angle);
}

} // namespace vn
