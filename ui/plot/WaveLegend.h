#pragma once

#include <QMap>
#include <QString>

class QHBoxLayout;
class QScrollArea;
class QToolButton;
class QWidget;

namespace vn {

class WavePlot;

// The row of readout buttons above the plot area: per readout channel a
// checkable button with a line sample in the curve's style, its label and its
// newest value. A click shows or hides the curve, a right click opens its menu.
class WaveLegend {
public:
    explicit WaveLegend(WavePlot* plot);

    // Creates, orders, refreshes and deletes the buttons; cheap when nothing
    // changed, as it runs after every data change.
    void update();

    QScrollArea* legendArea = nullptr;
    QWidget* legendStrip = nullptr;
    QHBoxLayout* legendLayout = nullptr;
    QToolButton* readoutPicker = nullptr;
    QMap<QString, QToolButton*> legendButtons;

private:
    QToolButton* createButton(const QString& key);

    WavePlot* plot;
};

} // namespace vn
