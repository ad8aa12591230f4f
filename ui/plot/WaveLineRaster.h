#pragma once

#include <QColor>
#include <QImage>
#include <QPointF>
#include <QRect>
#include <QSize>

#include <vector>

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
    // A one-pixel dashed grid line, horizontal or vertical, on pixel centres:
    // `on` pixels drawn, `off` skipped, from `start`. Not antialiased, as the
    // painter draws such lines without antialiasing either. Device pixels.
    struct GridLine {
        bool horizontal = true;
        int along = 0;          // its row, or its column
        int first = 0;          // first and last pixel drawn along it
        int last = -1;
        int start = 0;          // where the dash pattern begins
        int on = 1;
        int off = 0;
        QColor color;
    };
    // The grid line from one point to another (same y, or same x) in an
    // image of the given size; false when it lies outside.
    static bool gridLine(const QSize& size, const QPointF& from, const QPointF& to, const QColor& color, int on,
                         int off, GridLine& line);
    static void drawGridLine(QImage& image, const GridLine& line);

    // What lies under the curves inside the clip: a fill and grid lines. With
    // it the strips are painted from scratch instead of copied from the image.
    struct Background {
        QColor fill;
        std::vector<GridLine> grid;
    };

    // Draws the polylines in order, one narrow strip of columns at a time, so
    // the pixels a strip's steep segments walk stay in the cache. Same result
    // as drawing them one after the other over the image, or over the
    // background when one is given.
    static void drawPolylines(QImage& image, const QRect& clip, const Polyline* lines, qsizetype count,
                              const Background* background = nullptr);

    // Whether a pen of this width and style can be drawn here.
    static bool handles(double width, int line) { return line == 1 && width <= 1.0; }
};

} // namespace vn
