#pragma once

#include "ui/kit/TearTabBar.h"

namespace vn {

// The main window's connection tabs: fixed-height tabs sized to their titles
// (128..230 px), movable, closable with the middle button, torn off by dragging.
class ConnectionBar : public TearTabBar {
public:
    explicit ConnectionBar(QWidget* parent = nullptr);

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;
    QSize tabSizeHint(int index) const override;
};

} // namespace vn
