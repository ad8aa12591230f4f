#include "ui/window/WindowRail.h"

#include "ui/kit/IconButton.h"

#include <QVBoxLayout>

namespace vn {

WindowRail::WindowRail(QWidget* parent)
    : QFrame(parent)
{
    setObjectName(QStringLiteral("rail"));
    setFixedWidth(54);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(9, 16, 9, 12);

    sidebarToggle = new IconButton(QStringLiteral("lightning"), QStringLiteral("显示 / 隐藏连接参数"), this);
    sidebarToggle->setObjectName(QStringLiteral("sidebarToggle"));
    sidebarToggle->setCheckable(true);
    sidebarToggle->setChecked(true);
    layout->addWidget(sidebarToggle);
    layout->addStretch();

    settingsButton = new IconButton(QStringLiteral("gear"), QStringLiteral("设置"), this);
    settingsButton->setObjectName(QStringLiteral("settingsButton"));
    layout->addWidget(settingsButton);
}

} // namespace vn
