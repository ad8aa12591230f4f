#pragma once

#include "ui/kit/Theme.h"

#include <QWidget>

namespace vn {

// The round connection-state lamp.
class StatusLed : public QWidget {
public:
    enum State {
        Neutral = 0, // disconnected or closed
        Green = 1,   // connected or listening
        Amber = 2,   // connecting or reconnecting
        Red = 3,     // error
    };

    explicit StatusLed(QWidget* parent = nullptr);

    State state() const { return m_state; }
    // Repaints only when the state changes.
    void setState(State state);

    // The owner overwrites this when the theme changes, then calls update().
    Theme theme;

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    State m_state = Neutral;
};

} // namespace vn
