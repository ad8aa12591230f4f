#include "ui/plot/WaveLineRaster.h"

#include <algorithm>
#include <cmath>
#include <cstdint>

namespace vn {

namespace {

struct Target {
    uchar* bits;
    qsizetype stride;
    int x0, y0, x1, y1;   // clip, inclusive-exclusive
    quint32 rb;           // colour's red and blue lanes
    quint32 g;            // colour's green lane
    int alpha;            // 0..256
};

inline void blend(quint32* pixel, const Target& t, int cover)
{
    // cover 0..256: one multiply per two lanes, no lane overflows 16 bits.
    const quint32 a = quint32((cover * t.alpha) >> 8);
    const quint32 ia = 256 - a;
    const quint32 d = *pixel;
    const quint32 rb = (((t.rb * a) + ((d & 0xff00ffu) * ia)) >> 8) & 0xff00ffu;
    const quint32 g = (((t.g * a) + ((d & 0x00ff00u) * ia)) >> 8) & 0x00ff00u;
    *pixel = 0xff000000u | rb | g;
}

inline quint32* row(const Target& t, int y)
{
    return reinterpret_cast<quint32*>(t.bits + t.stride * y);
}

// Liang-Barsky against the clip box widened by a pixel, so the coverage of a
// line along the edge is kept; the per-pixel test below does the exact clip.
bool clipSegment(double& ax, double& ay, double& bx, double& by, double left, double top, double right,
                 double bottom)
{
    double t0 = 0.0;
    double t1 = 1.0;
    const double dx = bx - ax;
    const double dy = by - ay;
    const double p[4] = {-dx, dx, -dy, dy};
    const double q[4] = {ax - left, right - ax, ay - top, bottom - ay};
    for (int i = 0; i < 4; ++i) {
        if (p[i] == 0.0) {
            if (q[i] < 0.0)
                return false;
            continue;
        }
        const double r = q[i] / p[i];
        if (p[i] < 0.0) {
            if (r > t1)
                return false;
            t0 = std::max(t0, r);
        } else {
            if (r < t0)
                return false;
            t1 = std::min(t1, r);
        }
    }
    const double sx = ax;
    const double sy = ay;
    ax = sx + t0 * dx;
    ay = sy + t0 * dy;
    bx = sx + t1 * dx;
    by = sy + t1 * dy;
    return true;
}

// A steep segment: one scan line at a time, the coverage split between the
// two pixels around the line's centre. Rows whose centre lies in [ya, yb)
// are drawn, so joined segments do not draw their shared row twice.
void steep(const Target& t, double xa, double ya, double xb, double yb)
{
    if (ya > yb) {
        std::swap(xa, xb);
        std::swap(ya, yb);
    }
    const double slope = (xb - xa) / (yb - ya);
    int first = int(std::ceil(ya - 0.5));
    int last = int(std::ceil(yb - 0.5)) - 1;
    first = std::max(first, t.y0);
    last = std::min(last, t.y1 - 1);
    if (first > last)
        return;
    // 16.16 fixed point along x, shifted by half a pixel so the integer part
    // is the left pixel of the pair.
    const double startX = xa + ((first + 0.5) - ya) * slope - 0.5;
    qint64 fx = qint64(std::llround(startX * 65536.0));
    const qint64 step = qint64(std::llround(slope * 65536.0));
    for (int y = first; y <= last; ++y, fx += step) {
        const int ix = int(fx >> 16);
        const int frac = int((fx >> 8) & 0xff);
        quint32* line = row(t, y);
        if (ix >= t.x0 && ix < t.x1)
            blend(line + ix, t, 256 - frac);
        if (ix + 1 >= t.x0 && ix + 1 < t.x1)
            blend(line + ix + 1, t, frac);
    }
}

// A flat segment: the same with the axes swapped.
void flat(const Target& t, double xa, double ya, double xb, double yb)
{
    if (xa > xb) {
        std::swap(xa, xb);
        std::swap(ya, yb);
    }
    const double slope = (yb - ya) / (xb - xa);
    int first = int(std::ceil(xa - 0.5));
    int last = int(std::ceil(xb - 0.5)) - 1;
    first = std::max(first, t.x0);
    last = std::min(last, t.x1 - 1);
    if (first > last)
        return;
    const double startY = ya + ((first + 0.5) - xa) * slope - 0.5;
    qint64 fy = qint64(std::llround(startY * 65536.0));
    const qint64 step = qint64(std::llround(slope * 65536.0));
    for (int x = first; x <= last; ++x, fy += step) {
        const int iy = int(fy >> 16);
        const int frac = int((fy >> 8) & 0xff);
        if (iy >= t.y0 && iy < t.y1)
            blend(row(t, iy) + x, t, 256 - frac);
        if (iy + 1 >= t.y0 && iy + 1 < t.y1)
            blend(row(t, iy + 1) + x, t, frac);
    }
}

} // namespace

void WaveLineRaster::drawPolyline(QImage& image, const QRect& clip, const QPointF* points, qsizetype count,
                                  const QColor& color, double strength)
{
    const QRect box = clip.intersected(image.rect());
    if (count < 2 || box.isEmpty())
        return;
    const QRgb rgb = color.rgb();
    Target t;
    t.bits = image.bits();
    t.stride = image.bytesPerLine();
    t.x0 = box.left();
    t.y0 = box.top();
    t.x1 = box.right() + 1;
    t.y1 = box.bottom() + 1;
    t.rb = rgb & 0xff00ffu;
    t.g = rgb & 0x00ff00u;
    t.alpha = int(std::lround(color.alphaF() * std::clamp(strength, 0.0, 1.0) * 256.0));
    if (t.alpha <= 0)
        return;
    const double left = t.x0 - 1.0;
    const double top = t.y0 - 1.0;
    const double right = t.x1 + 1.0;
    const double bottom = t.y1 + 1.0;
    for (qsizetype i = 1; i < count; ++i) {
        double ax = points[i - 1].x();
        double ay = points[i - 1].y();
        double bx = points[i].x();
        double by = points[i].y();
        if (!clipSegment(ax, ay, bx, by, left, top, right, bottom))
            continue;
        if (std::abs(by - ay) >= std::abs(bx - ax)) {
            if (by != ay)
                steep(t, ax, ay, bx, by);
        } else {
            flat(t, ax, ay, bx, by);
        }
    }
}

} // namespace vn
