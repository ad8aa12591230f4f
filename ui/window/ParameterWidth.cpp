#include "ui/window/Window.h"

#include "ui/window/ParameterGrip.h"
#include "ui/window/WorkspaceFile.h"

#include <QScrollArea>

#include <algorithm>

namespace vn {

namespace {

// Rail (54) plus the room kept for the pages (320) plus the grip (8).
constexpr int ReservedWidth = 382;
// From this window width on, the pages keep 320 pixels beside the sidebar.
constexpr int WideWindow = 900;
constexpr int PageRoom = 320;
constexpr int GripWidth = 8;

} // namespace

void Window::resizeParameters(int width)
{
    const QWidget* central = centralWidget();
    if (!central)
        return;
    // Searched below the central widget only: torn-off windows are the root
    // window's children and carry widgets of the same names.
    const QWidget* rail = central->findChild<QWidget*>(QStringLiteral("rail"));
    const int available = central->width() - (rail ? rail->width() : 0);
    const int limit = std::max(MinimumParameterWidth,
                               available - (this->width() >= WideWindow ? PageRoom : 0) - GripWidth);
    const int taken = std::max(MinimumParameterWidth, std::min(width, limit));
    Window* top = rootWindow();
    QList<Window*> walk;
    for (const QPointer<Window>& each : std::as_const(top->windows)) {
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
    QScrollArea* scroll = parameterScroll();
    if (!scroll && central)
        scroll = central->findChild<QScrollArea*>(QStringLiteral("parameterScroll"));
    if (!scroll)
        return;
    scroll->setFixedWidth(
        std::min(parameterWidth, std::max(MinimumParameterWidth, width() - ReservedWidth)));
    scroll->setVisible(parameterVisible);
    if (auto* grip = central ? central->findChild<ParameterGrip*>(QStringLiteral("parameterGrip"))
                             : nullptr)
        grip->setVisible(parameterVisible);
}

} // namespace vn
