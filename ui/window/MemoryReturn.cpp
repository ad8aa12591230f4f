#include "ui/window/MemoryReturn.h"

#include "platform/MemoryTrim.h"

namespace vn {

MemoryReturn::MemoryReturn(QObject* parent)
    : QObject(parent)
{
    setObjectName(QStringLiteral("memoryReturn"));
    m_timer.setSingleShot(true);
    m_timer.setInterval(DelayMs);
    connect(&m_timer, &QTimer::timeout, this, [this] {
        returnFreeMemoryToSystem();
        Q_EMIT returned();
    });
}

void MemoryReturn::request()
{
    if (!m_timer.isActive())
        m_timer.start();
}

} // namespace vn
