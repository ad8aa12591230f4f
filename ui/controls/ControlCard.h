#pragma once

#include <QFrame>
#include <QPoint>
#include <QRect>

namespace vn {

class CardGrip;

// The framed widget of one control on a panel's canvas. In the free layout
// the user moves it by its title bar and resizes it by its edges or the grip
// in its lower right corner, within its size limits and the canvas square
// 0..15999; in the column layouts the canvas's grid places it. It knows
// nothing of controls or packets.
class ControlCard : public QFrame {
    Q_OBJECT
public:
    static constexpr int kMinimumWidth = 320;
    static constexpr int kMinimumHeight = 132;
    static constexpr int kMaximumSize = 4000;
    static constexpr int kEdgeZone = 6;
    static constexpr int kCanvasLimit = 16000;   // left + width never passes it

    explicit ControlCard(QWidget* parent = nullptr);
    ~ControlCard() override;

    void setDragHandle(QWidget* handle, QWidget* title);
    void setFreeLayout(bool free);
    bool isFreeLayout() const { return m_freeLayout; }
    void fitContents();

    QWidget* dragHandle() const { return m_dragHandle; }
    CardGrip* grip() const { return m_grip; }

Q_SIGNALS:
    void geometryEdited();
    void interactionStarted();

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

private:
    Qt::Edges edges(const QPoint& position) const;
    void updateCursor(Qt::Edges edges);
    void begin(const QPoint& global, Qt::Edges edges, bool move);
    void updateGeometryFromMouse(const QPoint& global);
    void finish(const QPoint& global);
    bool interacting() const { return m_moving || m_resizeEdges != Qt::Edges(); }

    QWidget* m_dragHandle = nullptr;
    QWidget* m_title = nullptr;
    CardGrip* m_grip = nullptr;
    bool m_freeLayout = false;
    bool m_moving = false;
    Qt::Edges m_resizeEdges;
    QPoint m_pressPoint;
    QRect m_startGeometry;
};

// The resize grip in a card's lower right corner.
class CardGrip : public QWidget {
    Q_OBJECT
public:
    explicit CardGrip(QWidget* parent);

protected:
    void paintEvent(QPaintEvent* event) override;
};

} // namespace vn
