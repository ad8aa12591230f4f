#pragma once

#include <QWidget>

namespace vn {

class ConnectionBar;
class IconButton;

// The row above a window's pages: the connection tabs, the new-page button
// and, in a torn-off window, the button that docks the window's pages back.
class TabHeader : public QWidget {
    Q_OBJECT
public:
    TabHeader(bool tornOff, QWidget* parent = nullptr);

    ConnectionBar* tabs = nullptr;
    IconButton* newPage = nullptr;
    IconButton* dock = nullptr; // null in the root window

Q_SIGNALS:
    // The tab bar's room follows the header's width, which the layout settles
    // only after the window itself was resized.
    void resized();

protected:
    void resizeEvent(QResizeEvent* event) override;
};

} // namespace vn
