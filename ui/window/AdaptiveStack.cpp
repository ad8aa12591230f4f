#include "ui/window/AdaptiveStack.h"

namespace vn {

AdaptiveStack::AdaptiveStack(QWidget* parent)
    : QStackedWidget(parent)
{
    connect(this, &QStackedWidget::currentChanged, this, [this]() { updateGeometry(); });
}

QSize AdaptiveStack::sizeHint() const
{
    const QWidget* page = currentWidget();
    return page ? page->sizeHint() : QSize();
}

QSize AdaptiveStack::minimumSizeHint() const
{
    const QWidget* page = currentWidget();
    return page ? page->minimumSizeHint() : QSize();
}

} // namespace vn
