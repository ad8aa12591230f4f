#pragma once

#include <QFrame>

namespace vn {

class IconButton;

// The narrow strip at the window's left edge: the sidebar toggle on top, the
// settings button at the bottom.
class WindowRail : public QFrame {
    Q_OBJECT
public:
    explicit WindowRail(QWidget* parent = nullptr);

    IconButton* sidebarToggle = nullptr; // checkable, starts checked
    IconButton* settingsButton = nullptr;
};

} // namespace vn
