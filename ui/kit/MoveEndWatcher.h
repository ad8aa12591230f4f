#pragma once

#include <QObject>
#include <QPoint>
#include <QPointer>
#include <QTimer>

class QWidget;

namespace vn {

// Tells when the user has let go of a top-level window they were moving.
// Window managers on X11 and Wayland move windows themselves and announce no
// end of the move, so a move counts as ended once the window's own moves have
// rested for a moment while no mouse button is held: a tab dragged out keeps
// the button down for as long as the window follows the mouse.
class MoveEndWatcher : public QObject {
    Q_OBJECT
public:
    static constexpr int SettleMs = 250;

    // Watches `window` and lives as its child.
    explicit MoveEndWatcher(QWidget* window);

    // A move is waiting to settle.
    bool pending() const { return m_settle.isActive(); }
    // Ends the pending move now, or starts and ends one when none is pending:
    // the same answer the settled move would give, at the current cursor.
    void finish();

Q_SIGNALS:
    // The global cursor position when the move ended.
    void moveEnded(const QPoint& globalPos);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void settled();

    QPointer<QWidget> m_window;
    QTimer m_settle;
};

} // namespace vn
