#include "ui/kit/ButtonFocusFeedback.h"

#include <QAbstractButton>
#include <QApplication>
#include <QEvent>
#include <QFocusEvent>
#include <QStyle>

namespace vn {

namespace {

class ButtonFocusFeedback : public QObject {
public:
    using QObject::QObject;

    bool eventFilter(QObject* watched, QEvent* event) override
    {
        const QEvent::Type type = event->type();
        if (type != QEvent::MouseButtonPress && type != QEvent::KeyPress && type != QEvent::FocusIn
            && type != QEvent::FocusOut) {
            return false; // every event of the application passes here: stay cheap
        }
        auto* button = qobject_cast<QAbstractButton*>(watched);
        if (!button) {
            return false;
        }
        switch (type) {
        case QEvent::MouseButtonPress:
            mark(button, false);
            break;
        case QEvent::KeyPress:
            mark(button, true);
            break;
        case QEvent::FocusIn:
            switch (static_cast<QFocusEvent*>(event)->reason()) {
            case Qt::TabFocusReason:
            case Qt::BacktabFocusReason:
            case Qt::ShortcutFocusReason:
                mark(button, true);
                break;
            case Qt::ActiveWindowFocusReason:
            case Qt::PopupFocusReason:
                break;
            default:
                mark(button, false);
                break;
            }
            button->update();
            break;
        case QEvent::FocusOut:
            button->update();
            break;
        default:
            break;
        }
        return false;
    }

private:
    static void mark(QAbstractButton* button, bool keyboard)
    {
        if (button->property("keyboardFocus").toBool() == keyboard) {
            return;
        }
        button->setProperty("keyboardFocus", keyboard);
        // The sheet tests the property; it applies only after a re-polish.
        button->style()->unpolish(button);
        button->style()->polish(button);
    }
};

} // namespace

void installButtonFocusFeedback()
{
    static bool installed = false;
    if (installed || !qobject_cast<QApplication*>(QCoreApplication::instance())) {
        return;
    }
    installed = true;
    qApp->installEventFilter(new ButtonFocusFeedback(qApp));
}

} // namespace vn
