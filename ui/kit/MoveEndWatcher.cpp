#include "ui/kit/MoveEndWatcher.h"

#include <QCursor>
#include <QEvent>
#include <QGuiApplication>
#include <QWidget>

namespace vn {

MoveEndWatcher::MoveEndWatcher(QWidget* window)
    : QObject(window)
    , m_window(window)
{
    m_settle.setSingleShot(true);
    m_settle.setInterval(SettleMs);
    connect(&m_settle, &QTimer::timeout, this, &MoveEndWatcher::settled);
    window->installEventFilter(this);
}

void MoveEndWatcher::finish()
{
    m_settle.stop();
    Q_EMIT moveEnded(QCursor::pos());
}

void MoveEndWatcher::settled()
{
    // Still held: the window is being carried, not dropped.
    if (QGuiApplication::mouseButtons() != Qt::NoButton) {
        m_settle.start();
        return;
    }
    Q_EMIT moveEnded(QCursor::pos());
}

bool MoveEndWatcher::eventFilter(QObject* watched, QEvent* event)
{
    if (watched == m_window) {
        switch (event->type()) {
        case QEvent::Move:
            // Only moves of the window in use: the program places new windows
            // before it shows and activates them.
            if (m_window->isVisible() && m_window->isActiveWindow())
                m_settle.start();
            break;
        case QEvent::Hide:
        case QEvent::Close:
            m_settle.stop();
            break;
        default:
            break;
        }
    }
    return QObject::eventFilter(watched, event);
}

} // namespace vn
