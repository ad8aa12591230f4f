#include "ui/pages/SendFooter.h"

#include <QBoxLayout>
#include <QResizeEvent>

namespace vn {

SendFooter::SendFooter(QWidget* parent)
    : QWidget(parent)
    , m_layout(new QBoxLayout(QBoxLayout::LeftToRight, this))
{
    m_layout->setContentsMargins(0, 0, 0, 0);
    m_layout->setSpacing(8);
}

QSize SendFooter::minimumSizeHint() const
{
    return {300, m_layout->minimumSize().height()};
}

void SendFooter::resizeEvent(QResizeEvent* event)
{
    const QBoxLayout::Direction wanted =
        event->size().width() >= WideWidth ? QBoxLayout::LeftToRight : QBoxLayout::TopToBottom;
    if (m_layout->direction() != wanted) {
        m_layout->setDirection(wanted);
        updateGeometry();
    }
    QWidget::resizeEvent(event);
}

} // namespace vn
