#include "ui/window/TabHeader.h"

#include "ui/kit/ConnectionBar.h"
#include "ui/kit/IconButton.h"

#include <QHBoxLayout>

namespace vn {

TabHeader::TabHeader(bool tornOff, QWidget* parent)
    : QWidget(parent)
{
    setObjectName(QStringLiteral("tabHeader"));
    setFixedHeight(49);
    auto* layout = new QHBoxLayout(this);
    layout->setContentsMargins(6, 4, 12, 0);
    layout->setSpacing(0);

    tabs = new ConnectionBar(this);
    tabs->setObjectName(QStringLiteral("connectionTabs"));
    layout->addWidget(tabs, 0, Qt::AlignBottom);

    newPage = new IconButton(QStringLiteral("plus"), QStringLiteral("新建页面"), this);
    newPage->setObjectName(QStringLiteral("newPage"));
    newPage->setFixedSize(30, 36);
    layout->addWidget(newPage);

    if (tornOff) {
        dock = new IconButton(QStringLiteral("dock"), QStringLiteral("将本窗口的页面返回主瓦内勒"), this);
        dock->setObjectName(QStringLiteral("dock"));
        layout->addWidget(dock);
    }
    layout->addStretch();
}

void TabHeader::resizeEvent(QResizeEvent* event)
{
    QWidget::resizeEvent(event);
    Q_EMIT resized();
}

} // namespace vn
