#pragma once

#include <QJsonObject>
#include <QPointF>
#include <QRectF>
#include <QStringList>

class QPainter;

namespace vn {

class WavePlot;

// The hover readout of a plot: the visible raw sample nearest to the
// pointer, the lines that describe it, where their box goes, and the overlay
// (crosshair, marker, box) drawn over the cached image.
class WaveHoverReadout {
public:
    explicit WaveHoverReadout(const WavePlot& owner)
        : plot(owner)
    {
    }

    // {"channel": curve key, "sample": x, "value": y}, or {} when no visible
    // sample lies inside the ranges near the point.
    QJsonObject inspect(const QPointF& point) const;
    // The curve's label, its value, the sample number and, when x is scaled
    // or has a unit, the x value.
    QStringList lines(const QJsonObject& hit) const;
    // Beside the pointer, flipped near the right and bottom edges, and kept
    // off the widget's edges.
    QRectF box(const QPointF& at, const QStringList& text) const;
    void draw(QPainter& painter, const QPointF& hoverPos) const;

private:
    const WavePlot& plot;
};

} // namespace vn
