#pragma once

#include "ui/controls/ControlSender.h"

#include <QPointer>

class QGridLayout;
class QLabel;
class QScrollArea;
class QWidget;

namespace vn {

// The three layouts of a panel's canvas (one column, two columns, free
// placement), the recording of free placement into the control records, and
// the canvas extent that lets the scroll area reach every card.
class CanvasLayout {
public:
    CanvasLayout(QWidget* canvas, QGridLayout* grid, QScrollArea* scroll, ControlRows& rows);

    // Lays the cards out for a layout choice (0 free, 1 or 2 columns).
    void arrange(int choice, int panelWidth);
    // In the free layout: every card's rectangle and stacking position into its record.
    void rememberGeometry();
    void updateExtent();
    // Takes the cards off the canvas (they are deleted once the event loop
    // runs, so a card may be rebuilt from inside one of its own signals).
    void clear();
    void showEmptyNotice();
    // A restore forgets the width the free placement was recorded at.
    void forget();

    // The record as settings() stores it: in the free layout with the card's
    // current rectangle, once the geometry was recorded or the record already
    // had a rectangle, and its layer once the geometry was recorded.
    QJsonObject storedRecord(const ControlRow& row) const;
    int layerOf(const QWidget* card) const;

    int appliedColumns = -1;
    bool geometryRemembered = false;
    int referenceWidth = 0;
    QPointer<QLabel> emptyNotice;

private:
    void clearGrid();

    QWidget* m_canvas;
    QGridLayout* m_grid;
    QScrollArea* m_scroll;
    ControlRows& m_rows;
};

} // namespace vn
