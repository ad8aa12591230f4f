#pragma once

#include <QObject>
#include <QTimer>

namespace vn {

// Gives the heap's free pages back to the system a moment after something
// large was released: a closed page, a view reset with a long history. The
// C library keeps freed memory for later use, so without this a program that
// once had 30 busy pages stays that large with two. Requests made close
// together (pages closed one after another, every page replaying after a
// theme change) come to one walk over the heap, and the walk runs after the
// deletions queued with them have run, never inside the tick.
class MemoryReturn : public QObject {
    Q_OBJECT
public:
    static constexpr int DelayMs = 250;

    explicit MemoryReturn(QObject* parent = nullptr);

    // Asks for one return soon; a request while one is pending adds nothing.
    void request();
    bool pending() const { return m_timer.isActive(); }

Q_SIGNALS:
    // The free memory was handed back (or the C library offers no way to).
    void returned();

private:
    QTimer m_timer;
};

} // namespace vn
