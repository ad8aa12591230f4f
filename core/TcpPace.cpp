#include "core/TcpPace.h"

#include <algorithm>

namespace vn {

TcpPace::TcpPace(QObject* parent)
    : QObject(parent)
{
    m_resume.setSingleShot(true);
    m_resume.setTimerType(Qt::PreciseTimer);
    connect(&m_resume, &QTimer::timeout, this, &TcpPace::resumed);
}

qint64 TcpPace::room()
{
    if (!m_period.isValid() || m_period.elapsed() >= PeriodMs) {
        m_period.start();
        m_used = 0;
    }
    const qint64 left = Allowance - m_used;
    if (left > 0)
        return left;
    if (!m_resume.isActive())
        m_resume.start(int(std::max<qint64>(1, PeriodMs - m_period.elapsed())));
    return 0;
}

void TcpPace::take(qint64 bytes)
{
    m_used += bytes;
}

} // namespace vn
