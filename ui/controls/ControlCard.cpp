#include "ui/controls/ControlCard.h"

#include <QLayout>
#include <QMouseEvent>
#include <QPainter>

#include <algorithm>

namespace vn {

namespace {

QPoint roundedGlobal(const QMouseEvent* event)
{
    return event->globalPosition().toPoint();
}

} // namespace

CardGrip::CardGrip(QWidget* parent) : QWidget(parent)
{
    setObjectName(QStringLiteral("controlResizeGrip"));
    setFixedSize(16, 16);
    setCursor(Qt::SizeFDiagCursor);
    setToolTip(QStringLiteral("拖动调整控件大小"));
}

void CardGrip::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    QPen pen(palette().color(QPalette::WindowText), 1, Qt::SolidLine, Qt::SquareCap, Qt::BevelJoin);
    painter.setPen(pen);
    const int w = width();
    const int h = height();
    for (int k : {4, 8, 12})
        painter.drawLine(QPoint(w - k, h - 3), QPoint(w - 3, h - k));
}

ControlCard::ControlCard(QWidget* parent) : QFrame(parent)
{
    setObjectName(QStringLiteral("serialControlCard"));
    setAttribute(Qt::WA_StyledBackground);
    setAttribute(Qt::WA_MouseTracking);
    setMinimumSize(kMinimumWidth, kMinimumHeight);
    setMaximumSize(kMaximumSize, kMaximumSize);
    m_grip = new CardGrip(this);
    m_grip->installEventFilter(this);
    m_grip->hide();
}

ControlCard::~ControlCard() = default;

void ControlCard::setDragHandle(QWidget* handle, QWidget* title)
{
    m_dragHandle = handle;
    handle->setObjectName(QStringLiteral("controlDragHandle"));
    handle->setAttribute(Qt::WA_StyledBackground);
    handle->setToolTip(QStringLiteral("拖动标题栏移动控件；拖动边缘或右下角调整大小"));
    handle->installEventFilter(this);
    m_title = title;
    if (title)
        title->installEventFilter(this);
}

void ControlCard::setFreeLayout(bool free)
{
    m_freeLayout = free;
    m_grip->setVisible(free);
    if (m_dragHandle)
        m_dragHandle->setCursor(free ? Qt::SizeAllCursor : Qt::ArrowCursor);
    if (!free) {
        if (interacting())
            releaseMouse();
        m_moving = false;
        m_resizeEdges = Qt::Edges();
        unsetCursor();
    }
}

void ControlCard::fitContents()
{
    QLayout* box = layout();
    if (!box)
        return;
    box->activate();
    // Content never takes the card past its own maximum: a select with one
    // long option or a fixed value without a break would otherwise ask for a
    // card wider than the canvas square, which the free layout then pushes
    // to a negative left edge.
    const QSize needed(std::clamp(box->minimumSize().width(), kMinimumWidth, kMaximumSize),
                       std::clamp(box->minimumSize().height(), kMinimumHeight, kMaximumSize));
    setMinimumSize(needed);
    if (m_freeLayout && (width() < needed.width() || height() < needed.height()))
        resize(std::max(width(), needed.width()), std::max(height(), needed.height()));
}

Qt::Edges ControlCard::edges(const QPoint& p) const
{
    Qt::Edges found;
    if (p.x() < kEdgeZone)
        found |= Qt::LeftEdge;
    if (p.x() >= width() - kEdgeZone)
        found |= Qt::RightEdge;
    if (p.y() < kEdgeZone)
        found |= Qt::TopEdge;
    if (p.y() >= height() - kEdgeZone)
        found |= Qt::BottomEdge;
    return found;
}

void ControlCard::updateCursor(Qt::Edges e)
{
    const bool left = e.testFlag(Qt::LeftEdge);
    const bool right = e.testFlag(Qt::RightEdge);
    const bool top = e.testFlag(Qt::TopEdge);
    const bool bottom = e.testFlag(Qt::BottomEdge);
    if ((top && left) || (right && bottom))
        setCursor(Qt::SizeFDiagCursor);
    else if ((right && top) || (left && bottom))
        setCursor(Qt::SizeBDiagCursor);
    else if (left || right)
        setCursor(Qt::SizeHorCursor);
    else if (top || bottom)
        setCursor(Qt::SizeVerCursor);
    else
        unsetCursor();
}

void ControlCard::begin(const QPoint& global, Qt::Edges resize, bool move)
{
    Q_EMIT interactionStarted();
    m_moving = move;
    m_resizeEdges = resize;
    m_pressPoint = global;
    m_startGeometry = geometry();
    raise();
    grabMouse();
}

void ControlCard::updateGeometryFromMouse(const QPoint& global)
{
    const QPoint d = global - m_pressPoint;
    const QRect start = m_startGeometry;
    QRect next = start;
    if (m_moving) {
        const int left = std::max(0, std::min(start.left() + d.x(), kCanvasLimit - start.width()));
        const int top = std::max(0, std::min(start.top() + d.y(), kCanvasLimit - start.height()));
        next.moveTo(left, top);
    } else {
        const int minW = minimumWidth();
        const int minH = minimumHeight();
        const int maxW = maximumWidth();
        const int maxH = maximumHeight();
        int left = start.left();
        int top = start.top();
        int right = start.right();
        int bottom = start.bottom();
        // Upper bound first, then the lower one, so the lower bound wins a conflict.
        if (m_resizeEdges.testFlag(Qt::LeftEdge))
            left = std::max(std::min(start.left() + d.x(), start.right() - minW + 1),
                            std::max(0, start.right() - maxW + 1));
        if (m_resizeEdges.testFlag(Qt::TopEdge))
            top = std::max(std::min(start.top() + d.y(), start.bottom() - minH + 1),
                           std::max(0, start.bottom() - maxH + 1));
        if (m_resizeEdges.testFlag(Qt::RightEdge))
            right = std::max(std::min(start.right() + d.x(), std::min(left + maxW - 1, kCanvasLimit - 1)),
                             left + minW - 1);
        if (m_resizeEdges.testFlag(Qt::BottomEdge))
            bottom = std::max(std::min(start.bottom() + d.y(), std::min(top + maxH - 1, kCanvasLimit - 1)),
                              top + minH - 1);
        next = QRect(QPoint(left, top), QPoint(right, bottom));
    }
    if (next != geometry()) {
        setGeometry(next);
        Q_EMIT geometryEdited();
    }
}

void ControlCard::finish(const QPoint& global)
{
    updateGeometryFromMouse(global);
    m_moving = false;
    m_resizeEdges = Qt::Edges();
    releaseMouse();
    Q_EMIT geometryEdited();
}

bool ControlCard::eventFilter(QObject* watched, QEvent* event)
{
    if (m_freeLayout) {
        const QEvent::Type type = event->type();
        if (type == QEvent::MouseButtonPress && !interacting()) {
            auto* mouse = static_cast<QMouseEvent*>(event);
            if (mouse->button() == Qt::LeftButton) {
                if (watched == m_grip) {
                    begin(roundedGlobal(mouse), Qt::RightEdge | Qt::BottomEdge, false);
                    return true;
                }
                if ((m_dragHandle && watched == m_dragHandle) || (m_title && watched == m_title)) {
                    begin(roundedGlobal(mouse), Qt::Edges(), true);
                    return true;
                }
            }
        } else if (type == QEvent::MouseMove && interacting()) {
            updateGeometryFromMouse(roundedGlobal(static_cast<QMouseEvent*>(event)));
            return true;
        } else if (type == QEvent::MouseButtonRelease && interacting()) {
            finish(roundedGlobal(static_cast<QMouseEvent*>(event)));
            return true;
        }
    }
    return QFrame::eventFilter(watched, event);
}

void ControlCard::mousePressEvent(QMouseEvent* event)
{
    if (m_freeLayout && event->button() == Qt::LeftButton && !interacting()) {
        const Qt::Edges found = edges(event->position().toPoint());
        if (found != Qt::Edges()) {
            begin(roundedGlobal(event), found, false);
            event->accept();
            return;
        }
    }
    QFrame::mousePressEvent(event);
}

void ControlCard::mouseMoveEvent(QMouseEvent* event)
{
    if (m_freeLayout) {
        if (interacting()) {
            updateGeometryFromMouse(roundedGlobal(event));
            event->accept();
            return;
        }
        updateCursor(edges(event->position().toPoint()));
    }
    QFrame::mouseMoveEvent(event);
}

void ControlCard::mouseReleaseEvent(QMouseEvent* event)
{
    if (interacting()) {
        finish(roundedGlobal(event));
        event->accept();
        return;
    }
    QFrame::mouseReleaseEvent(event);
}

void ControlCard::resizeEvent(QResizeEvent* event)
{
    QFrame::resizeEvent(event);
    m_grip->move(width() - 18, height() - 18);
    m_grip->raise();
}

} // namespace vn
