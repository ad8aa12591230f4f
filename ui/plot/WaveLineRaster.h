#pragma once

#include <QColor>
#include <QImage>
#include <QPointF>
#include <QRect>

namespace vn {

// Draws thin antialiased polylines straight into a 32-bit image. Dense
// waveforms are mostly short steep segments; stroking them one pixel wide
// with two-pixel coverage per scan line is several times cheaper than the
// general path stroker and looks the same. Thicker or dashed pens go through
// QPainter instead.
class WaveLineRaster {
public:
    // The image must be ARGB32_Premultiplied or RGB32 and opaque where drawn;
    // clip is in device pixels. Points are in device pixels too. `strength`
    // (0..1) scales the coverage, for pens thinner than one pixel.
    static void drawPolyline(QImage& image, const QRect& clip, const QPointF* points, qsizetype count,
                             const QColor& color, double strength);

    // One polyline of a batch; points ascend in x, as a curve's vertices do.
    struct Polyline {
        const QPointF* points = nullptr;
        qsizetype count = 0;
        QColor color;
        double strength = 1.0;
    };
    // Draws the polylines in order, one narrow strip of columns at a time, so
    // the pixels a strip's steep segments walk stay in the cache. Same result
    // as drawing them one after the other.
    static void drawPolylines(QImage& image, const QRect& clip, const Polyline* lines, qsizetype count);

    // A one-pixel dashed grid line, horizontal or vertical, on pixel centres:
    // `on` pixels drawn, `off` skipped, from its start. Not antialiased, as the
    // painter draws such lines without antialiasing either. Device pixels.
    static void drawGridLine(QImage& image, const QPointF& from, const QPointF& to, const QColor& color, int on,
                             int off);

    // Whether a pen of this width and style can be drawn here.
    static bool handles(double width, int line) { return line == 1 && width <= 1.0; }
};

} // namespace vn
