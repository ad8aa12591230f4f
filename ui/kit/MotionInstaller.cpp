#include "ui/kit/ButtonMotion.h"
#include "ui/kit/IconButton.h"

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QEvent>
#include <QFrame>
#include <QMenu>
#include <QPainter>
#include <QPainterPath>
#include <QPushButton>
#include <QStyle>
#include <QTimer>
#include <QToolButton>

namespace vn {

namespace {

// The palette of the latest style sheet; the motion overlays paint from it.
Theme motionTheme;

const char fadeName[] = "popupFade";

bool isComboPopup(QWidget* widget)
{
    return qobject_cast<QFrame*>(widget) && qobject_cast<QComboBox*>(widget->parent())
           && widget->windowType() == Qt::Popup;
}

void startPopupFade(QWidget* popup)
{
    auto* fade = popup->findChild<QVariantAnimation*>(QLatin1String(fadeName),
                                                      Qt::FindDirectChildrenOnly);
    if (!fade) {
        fade = new QVariantAnimation(popup);
        fade->setObjectName(QLatin1String(fadeName));
        fade->setDuration(120);
        fade->setEasingCurve(QEasingCurve::OutCubic);
        fade->setStartValue(0.0);
        fade->setEndValue(1.0);
        QObject::connect(fade, &QVariantAnimation::valueChanged, popup,
                         [popup](const QVariant& value) { popup->setWindowOpacity(value.toDouble()); });
        QObject::connect(fade, &QVariantAnimation::finished, popup,
                         [popup] { popup->setWindowOpacity(1.0); });
    }
    fade->stop();
    popup->setWindowOpacity(0.0);
    fade->start();
}

// The size of a pop-up is final only after Qt has laid it out; round it again then.
void roundAgainLater(QWidget* popup)
{
    QTimer::singleShot(0, popup, [guard = QPointer<QWidget>(popup)] {
        if (guard && guard->isVisible()) {
            roundPopupWindow(guard);
        }
    });
}

class MotionInstaller : public QObject {
public:
    using QObject::QObject;

    bool eventFilter(QObject* watched, QEvent* event) override
    {
        const QEvent::Type type = event->type();
        if (type != QEvent::Polish && type != QEvent::Show && type != QEvent::Paint
            && type != QEvent::Resize && type != QEvent::Hide) {
            return false;
        }
        if (!watched->isWidgetType()) {
            return false;
        }
        auto* widget = static_cast<QWidget*>(watched);
        const bool menu = qobject_cast<QMenu*>(widget) != nullptr;
        if (menu || isComboPopup(widget)) {
            return popupEvent(widget, menu, type);
        }
        if (type == QEvent::Polish || type == QEvent::Show) {
            attach(widget);
        }
        return false;
    }

private:
    static bool popupEvent(QWidget* popup, bool menu, QEvent::Type type)
    {
        if (type == QEvent::Hide) {
            if (auto* fade = popup->findChild<QVariantAnimation*>(QLatin1String(fadeName),
                                                                  Qt::FindDirectChildrenOnly)) {
                fade->stop();
                popup->setWindowOpacity(1.0);
            }
            return false;
        }
        roundPopupWindow(popup);
        switch (type) {
        case QEvent::Show:
            startPopupFade(popup);
            roundAgainLater(popup);
            return false;
        case QEvent::Resize:
            roundAgainLater(popup);
            return false;
        case QEvent::Paint:
            if (menu) {
                return false;
            }
            paintComboFrame(popup);
            return true;
        default:
            return false;
        }
    }

    // The list container's own frame is square; draw the rounded one instead.
    static void paintComboFrame(QWidget* popup)
    {
        QPainter painter(popup);
        painter.setRenderHint(QPainter::Antialiasing);
        painter.setPen(QPen(motionTheme.line, 1.0, Qt::SolidLine));
        painter.setBrush(motionTheme.panel);
        painter.drawRoundedRect(QRectF(0.5, 0.5, popup->width() - 1, popup->height() - 1), 9.5, 9.5);
    }

    static void attach(QWidget* widget)
    {
        if (auto* box = qobject_cast<QCheckBox*>(widget)) {
            if (!box->findChild<CheckBoxMotion*>(QString(), Qt::FindDirectChildrenOnly)) {
                new CheckBoxMotion(box);
            }
            return;
        }
        auto* button = qobject_cast<QAbstractButton*>(widget);
        if (!button) {
            return;
        }
        if (!qobject_cast<QPushButton*>(button) && !qobject_cast<QToolButton*>(button)
            && !qobject_cast<IconButton*>(button)) {
            return;
        }
        if (!button->findChild<ButtonMotion*>(QString(), Qt::FindDirectChildrenOnly)) {
            new ButtonMotion(button);
        }
    }
};

} // namespace

const Theme& buttonMotionTheme()
{
    return motionTheme;
}

void installButtonMotion(const Theme& theme)
{
    motionTheme = theme;
    static bool installed = false;
    if (!installed && qobject_cast<QApplication*>(QCoreApplication::instance())) {
        installed = true;
        // Qt's own roll and fade would fight the rounded fade of the pop-ups.
        QApplication::setEffectEnabled(Qt::UI_AnimateCombo, false);
        QApplication::setEffectEnabled(Qt::UI_AnimateMenu, false);
        QApplication::setEffectEnabled(Qt::UI_FadeMenu, false);
        qApp->installEventFilter(new MotionInstaller(qApp));
    }
    const QWidgetList widgets = QApplication::allWidgets();
    for (QWidget* widget : widgets) {
        if (qobject_cast<ButtonMotion*>(widget) || qobject_cast<CheckBoxMotion*>(widget)) {
            widget->update();
        }
    }
}

void roundPopupWindow(QWidget* popup)
{
    if (!popup->property("roundedPopup").toBool()) {
        popup->setProperty("roundedPopup", true);
        popup->setWindowFlags(popup->windowFlags() | Qt::FramelessWindowHint
                              | Qt::NoDropShadowWindowHint);
        popup->setAttribute(Qt::WA_TranslucentBackground);
        popup->setAttribute(Qt::WA_StyledBackground);
        popup->setAutoFillBackground(false);
        if (qobject_cast<QComboBox*>(popup->parent())) {
            popup->setStyleSheet(QStringLiteral("QFrame[roundedPopup=\"true\"] { border-radius: 10px; }"));
        }
        popup->style()->unpolish(popup);
        popup->style()->polish(popup);
    }
    QPainterPath path;
    path.addRoundedRect(QRectF(0, 0, popup->width(), popup->height()), 10, 10, Qt::AbsoluteSize);
    const QRegion region(path.toFillPolygon(QTransform()).toPolygon(), Qt::OddEvenFill);
    if (popup->mask() != region) {
        popup->setMask(region);
    }
}

} // namespace vn
