#pragma once

#include <QWidget>

namespace vn {

class FilterBox;
class IconButton;

// The monitor toolbar of a session page: the display switches on the left,
// the line filter, then pause, clear, follow, export and file transfer. It
// only builds and names the buttons; the page connects them.
class SessionToolbar : public QWidget {
    Q_OBJECT
public:
    explicit SessionToolbar(QWidget* parent = nullptr);

    IconButton* terminalMode = nullptr;
    IconButton* timestamps = nullptr;
    IconButton* hexDisplay = nullptr;
    IconButton* wrapLines = nullptr;
    IconButton* cursorShape = nullptr;
    IconButton* clipboard = nullptr;
    FilterBox* filter = nullptr;
    IconButton* pause = nullptr;
    IconButton* clear = nullptr;
    IconButton* follow = nullptr;
    IconButton* exportLog = nullptr;
    IconButton* fileTransfer = nullptr;

    // Shows the buttons of log mode, or those of terminal mode.
    void showMode(bool terminal);
};

// Sets a button's tool tip and accessible name together, as the kit's buttons
// keep them equal.
void setButtonTip(QWidget* button, const QString& tip);

} // namespace vn
