#include "ui/kit/ConnectionBar.h"

#include <QFontMetrics>

#include <algorithm>

namespace vn {

ConnectionBar::ConnectionBar(QWidget* parent)
    : TearTabBar(parent)
{
    setObjectName(QStringLiteral("connections"));
    setMiddleClickClosing(true);
    setDrawBase(false);
    setExpanding(false);
    setMovable(true);
    setElideMode(Qt::ElideRight);
    setUsesScrollButtons(true);
    setMinimumWidth(0);
}

QSize ConnectionBar::tabSizeHint(int index) const
{
    int width = QFontMetrics(font()).horizontalAdvance(tabText(index)) + 80;
    if (!tabIcon(index).isNull()) {
        width += 20;
    }
    return {std::clamp(width, 128, 230), 45};
}

QSize ConnectionBar::sizeHint() const
{
    int width = 0;
    for (int index = 0; index < count(); ++index) {
        width += tabSizeHint(index).width();
    }
    return {width, 45};
}

QSize ConnectionBar::minimumSizeHint() const
{
    return {60, 45};
}

} // namespace vn
