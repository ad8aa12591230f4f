#pragma once

#include <QPoint>
#include <QString>

namespace vn {

class WavePlot;

// The modal editors of a plot's presentation. Each builds its dialog as a
// local object parented to the plot, runs it and applies the result only
// when it is saved; the plot remembers the geometry and the last tab.

// Axis titles and units, the sample interval, the default curve style, and a
// reset of the whole presentation.
void runPlotSettingsDialog(WavePlot& plot);
// One curve's own style, or back to the default one.
void runCurveSettingsDialog(WavePlot& plot, const QString& key);
// The four readout slots of the legend row.
void runReadoutChannelsDialog(WavePlot& plot);
// The pop-up menu of a legend button.
void runCurveMenu(WavePlot& plot, const QString& key, const QPoint& globalPosition);

} // namespace vn
