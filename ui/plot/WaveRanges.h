#pragma once

#include "ui/plot/WaveCurveStore.h"

#include <QSet>

#include <utility>

class QWheelEvent;

namespace vn {

// A pair (lo, hi) in data units: x in sample indices, y in values.
using WaveRange = std::pair<double, double>;

// Smallest first x and largest last x over every curve with points; never
// narrower than 1, (0, 1) without points.
WaveRange sampleBounds(const QMap<QString, WavePoints>& curves);

// Min and max y over the visible curves with a tenth of the span as margin;
// (-0.1, 1.1) without points.
WaveRange valueRange(const QMap<QString, WavePoints>& curves, const QSet<QString>& hidden);

// One zoom step around the anchor at fraction a of the range; factor > 1 zooms
// in. x spans stay within 1..50000 indices, y spans above the resolution of
// doubles near the anchor. A step that would leave the doubles returns the range.
WaveRange scaledRange(const WaveRange& range, double a, double factor, bool isX);

// Shifts the range by a fraction of its width, with the limits of scaledRange.
WaveRange translatedRange(const WaveRange& range, double fraction);

// Zoom notches of a wheel event, held within -6..6; 0 when it carries none.
// A fraction of a notch counts as such, so smooth-scrolling devices zoom too.
double wheelSteps(const QWheelEvent& event);

} // namespace vn
