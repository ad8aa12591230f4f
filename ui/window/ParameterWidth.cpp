#include "ui/window/Window.h"

#include "ui/kit/IconButton.h"
#include "ui/window/ParameterGrip.h"
#include "ui/window/StatusLine.h"
#include "ui/window/StatusText.h"
#include "ui/window/WindowWidgets.h"
#include "ui/window/WorkspaceFile.h"

#include <QBoxLayout>
#include <QLabel>
#include <QScrollArea>
#include <QSignalBlocker>
#include <QTimer>

#include <algorithm>

namespace vn {

namespace {

// From this window width on the sidebar is docked beside the pages, which keep
// 320 pixels; below it the sidebar floats over the pages.
constexpr int WideWindow = 900;
constexpr int PageRoom = 320;
constexpr int GripWidth = 8;

} // namespace

void Window::resizeParameters(int width)
{
    const QWidget* central = centralWidget();
    if (!central)
        return;
    const int available = central->width() - (ui->rail ? ui->rail->width() : 0);
    const int limit = std::max(MinimumParameterWidth,
                               available - (this->width() >= WideWindow ? PageRoom : 0) - GripWidth);
    const int taken = std::max(MinimumParameterWidth, std::min(width, limit));
    QList<Window*> walk;
    for (const QPointer<Window>& each : std::as_const(rootWindow()->windows)) {
        if (each)
            walk.append(each.data());
    }
    if (walk.isEmpty())
        walk.append(this);
    for (Window* each : walk) {
        each->parameterWidth = taken;
        each->arrangeParameters();
    }
}

void Window::arrangeParameters()
{
    QWidget* central = centralWidget();
    QScrollArea* scroll = ui->parameterScroll;
    ParameterGrip* grip = ui->grip;
    auto* row = central ? qobject_cast<QBoxLayout*>(central->layout()) : nullptr;
    if (!scroll || !grip || !row)
        return;
    const int windowWidth = width();
    const bool wide = windowWidth >= WideWindow;
    const bool inside = row->indexOf(scroll) >= 0;
    const int railWidth = ui->rail ? ui->rail->width() : 0;
    const int available = central->width() - railWidth;

    if (!wide && inside) {
        row->removeWidget(scroll);
        row->removeWidget(grip);
        scroll->hide();
        grip->hide();
        const QSignalBlocker blocker(ui->sidebarToggle);
        ui->sidebarToggle->setChecked(false);
    } else if (wide && !inside) {
        row->insertWidget(1, scroll, 0);
        row->insertWidget(2, grip, 0);
        scroll->setVisible(parameterVisible && current);
        const QSignalBlocker blocker(ui->sidebarToggle);
        ui->sidebarToggle->setChecked(parameterVisible);
    }

    if (ui->status)
        ui->status->want(ui->status->mcp, wide);

    if (wide) {
        const int shown = std::max(MinimumParameterWidth,
                                   std::min(parameterWidth, std::max(MinimumParameterWidth, available - 328)));
        scroll->setFixedWidth(shown);
        grip->setVisible(!scroll->isHidden());
        if (ui->status)
            ui->status->message->setMaximumWidth(std::max(80, windowWidth - 210));
    } else {
        const int shown = std::max(MinimumParameterWidth,
                                   std::min(parameterWidth, std::max(MinimumParameterWidth, available - GripWidth)));
        scroll->setFixedWidth(shown);
        const int left = ui->rail ? ui->rail->geometry().right() + 1 : 0;
        scroll->setGeometry(left, 0, shown, central->height());
        grip->setGeometry(left + shown, 0, GripWidth, central->height());
        grip->setVisible(!scroll->isHidden());
        scroll->raise();
        grip->raise();
        if (ui->status)
            ui->status->message->setMaximumWidth(std::max(80, windowWidth - 70));
    }

    row->activate();
    QTimer::singleShot(0, this, &Window::adjustTabs);
}

} // namespace vn
