#include "ui/kit/ButtonMotion.h"

#include <QCheckBox>
#include <QEvent>
#include <QLineF>
#include <QPainter>
#include <QPainterPath>
#include <QStyle>
#include <QStyleOptionButton>

#include <cmath>

namespace vn {

namespace {

double restingProgress(const QCheckBox* box)
{
    return box->checkState() != Qt::Unchecked ? 1.0 : 0.0;
}

int mix(int from, int to, double t)
{
    return static_cast<int>(std::lround(from + (to - from) * t));
}

} // namespace

CheckBoxMotion::CheckBoxMotion(QCheckBox* decorated)
    : QWidget(decorated)
    , box(decorated)
{
    setObjectName(QStringLiteral("checkBoxMotion"));
    setAttribute(Qt::WA_TransparentForMouseEvents);
    setAttribute(Qt::WA_NoSystemBackground);
    setFocusPolicy(Qt::NoFocus);
    box->setProperty("animatedCheck", true);
    if (box->testAttribute(Qt::WA_WState_Polished)) {
        // The sheet hides the box's own indicator only once it sees the property.
        box->style()->unpolish(box);
        box->style()->polish(box);
    }
    setGeometry(box->rect());
    progress = restingProgress(box);
    animation.setDuration(160);
    animation.setEasingCurve(QEasingCurve::OutCubic);
    connect(&animation, &QVariantAnimation::valueChanged, this, [this](const QVariant& value) {
        progress = value.toDouble();
        update();
    });
    // Qt 6.4 has no checkStateChanged; stateChanged carries the same state.
    connect(box, &QCheckBox::stateChanged, this, [this](int state) {
        animation.stop();
        animation.setStartValue(progress);
        animation.setEndValue(state != Qt::Unchecked ? 1.0 : 0.0);
        animation.start(QAbstractAnimation::KeepWhenStopped);
    });
    box->installEventFilter(this);
    show();
    raise();
}

void CheckBoxMotion::settle()
{
    animation.stop();
    progress = restingProgress(box);
    update();
}

bool CheckBoxMotion::eventFilter(QObject* watched, QEvent* event)
{
    if (watched != box || !qobject_cast<QCheckBox*>(watched)) {
        return false; // not the box, or the box is being destroyed
    }
    switch (event->type()) {
    case QEvent::Resize:
        setGeometry(box->rect());
        break;
    case QEvent::Show:
        setGeometry(box->rect());
        settle();
        show();
        raise();
        break;
    case QEvent::Hide:
    case QEvent::EnabledChange:
        settle();
        break;
    case QEvent::FocusIn:
    case QEvent::FocusOut:
    case QEvent::Enter:
    case QEvent::Leave:
    case QEvent::PaletteChange:
    case QEvent::StyleChange:
        update();
        break;
    default:
        break;
    }
    return false;
}

void CheckBoxMotion::paintEvent(QPaintEvent*)
{
    QStyleOptionButton option;
    option.initFrom(box);
    option.text = box->text();
    const QRect indicator = box->style()->subElementRect(QStyle::SE_CheckBoxIndicator, &option, box);
    const QRectF area(indicator.x() + 0.75, indicator.y() + 0.75, indicator.width() - 1.5,
                      indicator.height() - 1.5);

    const Theme& theme = buttonMotionTheme();
    const bool keyboard = box->hasFocus() && box->property("keyboardFocus").toBool();
    const QColor border = keyboard || box->underMouse() ? theme.accent : theme.edge;
    const double t = animation.state() == QAbstractAnimation::Running ? progress : restingProgress(box);

    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setOpacity(box->isEnabled() ? 1.0 : 0.45);
    const QColor fill(mix(theme.panel.red(), theme.accent.red(), t),
                      mix(theme.panel.green(), theme.accent.green(), t),
                      mix(theme.panel.blue(), theme.accent.blue(), t));
    painter.setPen(QPen(border, keyboard ? 1.4 : 1.0));
    painter.setBrush(fill);
    painter.drawRoundedRect(area, 4.5, 4.5);
    if (t < 0.001) {
        return;
    }

    painter.setPen(QPen(theme.onaccent, 1.7, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    painter.setBrush(Qt::NoBrush);
    const double x = area.x();
    const double y = area.y();
    const double w = area.width();
    const double h = area.height();
    if (box->checkState() == Qt::PartiallyChecked) {
        const QPointF centre = area.center();
        painter.drawLine(QPointF(centre.x() - 0.24 * w * t, centre.y()),
                         QPointF(centre.x() + 0.24 * w * t, centre.y()));
        return;
    }
    // The tick grows along its two strokes as the box fills.
    const QPointF p1(x + 0.23 * w, y + 0.52 * h);
    const QPointF p2(x + 0.43 * w, y + 0.71 * h);
    const QPointF p3(x + 0.78 * w, y + 0.31 * h);
    const double l1 = QLineF(p1, p2).length();
    const double l2 = QLineF(p2, p3).length();
    const double drawn = (l1 + l2) * t;
    QPainterPath tick(p1);
    if (drawn <= l1) {
        tick.lineTo(p1 + (p2 - p1) * (drawn / l1));
    } else {
        tick.lineTo(p2);
        tick.lineTo(p2 + (p3 - p2) * ((drawn - l1) / l2));
    }
    painter.drawPath(tick);
}

} // namespace vn
