#pragma once

#include <QColor>
#include <QJsonObject>

namespace vn {

// How one plot curve is drawn. A plain value; an invalid colour means the
// plot picks the curve's colour from its palette.
struct WaveCurveStyle {
    QColor color;
    double width = 1.0;   // pixels, 0.5 to 8
    int line = 1;         // 1 solid, 2 dash, 3 dot, 4 dash-dot (Qt's pen style numbers)

    bool operator==(const WaveCurveStyle&) const = default;
};

// Width held within 0.5..8 (not finite: 1), line outside 1..4 becomes 1; the
// colour is kept as it is.
WaveCurveStyle normalizedStyle(WaveCurveStyle style);

// The style object {"color", "width", "line"}; an automatic colour is written
// as "" and any colour as #rrggbb (alpha dropped).
QJsonObject styleJson(const WaveCurveStyle& style);

// Reads a style object; every missing or unusable key takes its default.
WaveCurveStyle readStyle(const QJsonObject& object);

} // namespace vn
