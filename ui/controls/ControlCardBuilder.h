#pragma once

#include <QLabel>

namespace vn {

class ControlCard;
class SerialControlPanel;
struct ControlRow;

// A card's title: painted elided to its width, so a long title never widens
// the title bar.
class CardTitle : public QLabel {
    Q_OBJECT
public:
    using QLabel::QLabel;

protected:
    void paintEvent(QPaintEvent* event) override;
};

// Builds the card of one row on the canvas: title bar, the value widgets of
// the control's type, send button, auto-send box and packet preview, wired to
// the panel. Fills the row's widget pointers; `index` is the row's position.
ControlCard* buildControlCard(SerialControlPanel* panel, ControlRow& row, int index, QWidget* canvas);

} // namespace vn
