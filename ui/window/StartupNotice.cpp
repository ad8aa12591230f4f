#include "ui/window/StartupNotice.h"

#include <QEvent>
#include <QMessageBox>
#include <QTimer>
#include <QWidget>

namespace vn {

StartupNotice::StartupNotice(QWidget* window, const QString& titleIn, const QString& textIn)
    : QObject(window)
    , owner(window)
    , title(titleIn)
    , text(textIn)
{
    setObjectName(QStringLiteral("startupNotice"));
    window->installEventFilter(this);
}

bool StartupNotice::eventFilter(QObject* watched, QEvent* event)
{
    if (watched == owner && event->type() == QEvent::Show) {
        owner->removeEventFilter(this);
        // After the show has finished, so the box opens over the window.
        QTimer::singleShot(0, this, &StartupNotice::showBox);
    }
    return false;
}

void StartupNotice::showBox()
{
    auto* box = new QMessageBox(QMessageBox::Warning, title, text, QMessageBox::Ok, owner);
    box->setObjectName(QStringLiteral("startupNoticeBox"));
    // File names are shown as they are.
    box->setTextFormat(Qt::PlainText);
    box->setAttribute(Qt::WA_DeleteOnClose);
    box->open();
    deleteLater();
}

} // namespace vn
