#include "ui/plot/WaveLineRaster.h"

#include <emmintrin.h>

#include <algorithm>
#include <climits>
#include <limits>
#include <cmath>
#include <cstring>
#include <vector>

namespace vn {

namespace {

struct PairAlpha {
    __m128i lanes;
};

// Where one polyline is drawn: a block of pixels whose (xBase, yBase) pixel is
// at `base`, `words` pixels a row, clipped to [x0, x1) x [y0, y1).
struct Target {
    quint32* base = nullptr;
    qsizetype words = 0;
    int xBase = 0;
    int yBase = 0;
    int x0 = 0;
    int y0 = 0;
    int x1 = 0;
    int y1 = 0;
    quint32 rb = 0;       // colour's red and blue lanes
    quint32 g = 0;        // colour's green lane
    int alpha = 0;        // 0..256
    __m128i colour16{};   // the colour twice, one 16-bit lane per channel
    // Per 8-bit fraction f: the alpha of a left pixel covered 256 - f and of
    // a right pixel covered f, four 16-bit lanes each.
    const PairAlpha* pairAlpha = nullptr;

    quint32* row(int y) const { return base + (y - yBase) * words; }
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

// Two neighbouring pixels at once, the left one covered 256 - frac, the
// right one frac.
inline void blendPair(quint32* pixels, const Target& t, int frac)
{
    const __m128i zero = _mm_setzero_si128();
    const __m128i a = t.pairAlpha[frac].lanes;
    const __m128i ia = _mm_sub_epi16(_mm_set1_epi16(256), a);
    const __m128i d = _mm_unpacklo_epi8(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(pixels)), zero);
    const __m128i sum = _mm_add_epi16(_mm_mullo_epi16(t.colour16, a), _mm_mullo_epi16(d, ia));
    const __m128i out = _mm_srli_epi16(sum, 8);
    _mm_storel_epi64(reinterpret_cast<__m128i*>(pixels), _mm_packus_epi16(out, out));
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

// The rows (or columns) whose centre lies on a segment from a to b along
// its major axis: from a, inclusive, to b, exclusive, so that the segments of
// a run in one direction share no row. A cap widens an end by half a pixel,
// like the square cap of the pen: at the ends of the polyline and where it
// turns, so a sharp peak keeps the row its vertex lies in.
inline void spanOf(double a, double b, double capA, double capB, int& first, int& last)
{
    if (a <= b) {
        first = int(std::ceil(a - capA - 0.5));
        last = int(std::ceil(b + capB - 0.5)) - 1;
    } else {
        first = int(std::floor(b - capB - 0.5)) + 1;
        last = int(std::floor(a + capA - 0.5));
    }
}

// A steep segment: one scan line at a time, the coverage split between the
// two pixels around the line's centre.
void steep(const Target& t, double xa, double ya, double xb, double yb, double capA, double capB)
{
    int first = 0;
    int last = 0;
    spanOf(ya, yb, capA, capB, first, last);
    first = std::max(first, t.y0);
    last = std::min(last, t.y1 - 1);
    if (first > last)
        return;
    const double slope = (xb - xa) / (yb - ya);
    // 16.16 fixed point along x, shifted by half a pixel so the integer part
    // is the left pixel of the pair.
    const double startX = xa + ((first + 0.5) - ya) * slope - 0.5;
    qint64 fx = qint64(startX * 65536.0 + (startX >= 0 ? 0.5 : -0.5));
    const qint64 step = qint64(slope * 65536.0 + (slope >= 0 ? 0.5 : -0.5));
    quint32* line = t.row(first);
    const unsigned inner = unsigned(t.x1 - t.x0 - 1);   // pairs that start here stay inside
    for (int y = first; y <= last; ++y, fx += step, line += t.words) {
        const int ix = int(fx >> 16);
        const int frac = int((fx >> 8) & 0xff);
        if (unsigned(ix - t.x0) < inner) {
            blendPair(line + (ix - t.xBase), t, frac);
            continue;
        }
        if (ix >= t.x0 && ix < t.x1)
            blend(line + (ix - t.xBase), t, 256 - frac);
        if (ix + 1 >= t.x0 && ix + 1 < t.x1)
            blend(line + (ix + 1 - t.xBase), t, frac);
    }
}

// A flat segment: the same with the axes swapped.
void flat(const Target& t, double xa, double ya, double xb, double yb, double capA, double capB)
{
    int first = 0;
    int last = 0;
    spanOf(xa, xb, capA, capB, first, last);
    first = std::max(first, t.x0);
    last = std::min(last, t.x1 - 1);
    if (first > last)
        return;
    const double slope = xb != xa ? (yb - ya) / (xb - xa) : 0.0;
    const double startY = ya + ((first + 0.5) - xa) * slope - 0.5;
    qint64 fy = qint64(startY * 65536.0 + (startY >= 0 ? 0.5 : -0.5));
    const qint64 step = qint64(slope * 65536.0 + (slope >= 0 ? 0.5 : -0.5));
    for (int x = first; x <= last; ++x, fy += step) {
        const int iy = int(fy >> 16);
        const int frac = int((fy >> 8) & 0xff);
        if (iy >= t.y0 && iy < t.y1)
            blend(t.row(iy) + (x - t.xBase), t, 256 - frac);
        if (iy + 1 >= t.y0 && iy + 1 < t.y1)
            blend(t.row(iy + 1) + (x - t.xBase), t, frac);
    }
}

Target target(const QColor& color, double strength)
{
    const QRgb rgb = color.rgb();
    Target t;
    t.rb = rgb & 0xff00ffu;
    t.g = rgb & 0x00ff00u;
    t.alpha = int(std::lround(color.alphaF() * std::clamp(strength, 0.0, 1.0) * 256.0));
    const __m128i one = _mm_unpacklo_epi8(_mm_cvtsi32_si128(int(0xff000000u | rgb)), _mm_setzero_si128());
    t.colour16 = _mm_unpacklo_epi64(one, one);
    return t;
}

inline bool isSteep(const QPointF& a, const QPointF& b)
{
    return std::abs(b.y() - a.y()) >= std::abs(b.x() - a.x());
}

// Draws the segments ending at points first..last-1 (each from the point
// before) of a polyline of `count` points.
void segments(const Target& t, const QPointF* points, qsizetype count, qsizetype first, qsizetype last)
{
    const double left = t.x0 - 1.0;
    const double top = t.y0 - 1.0;
    const double right = t.x1 + 1.0;
    const double bottom = t.y1 + 1.0;
    for (qsizetype i = first; i < last; ++i) {
        const QPointF& p = points[i - 1];
        const QPointF& q = points[i];
        const bool steepNow = isSteep(p, q);
        if (p == q) {
            if (count == 2)
                flat(t, p.x() - 0.5, p.y(), p.x() + 0.5, p.y(), 0, 0);   // a lone dot
            continue;
        }
        // Where the next segment goes on along the same axis in the same
        // direction, it draws the shared row; elsewhere this one caps it.
        double capEnd = 0.5;
        if (i + 1 < count) {
            const QPointF& r = points[i + 1];
            if (isSteep(q, r) == steepNow) {
                const double along = steepNow ? (q.y() - p.y()) * (r.y() - q.y()) : (q.x() - p.x()) * (r.x() - q.x());
                if (along > 0)
                    capEnd = 0;
            }
        }
        const double capStart = i == 1 ? 0.5 : 0.0;
        double ax = p.x();
        double ay = p.y();
        double bx = q.x();
        double by = q.y();
        const bool inside = std::min(ax, bx) >= left && std::max(ax, bx) <= right && std::min(ay, by) >= top
                            && std::max(ay, by) <= bottom;
        if (!inside && !clipSegment(ax, ay, bx, by, left, top, right, bottom))
            continue;
        if (steepNow) {
            if (by != ay)
                steep(t, ax, ay, bx, by, capStart, capEnd);
        } else {
            flat(t, ax, ay, bx, by, capStart, capEnd);
        }
    }
}

// A strip row is 64 bytes: four vector moves instead of a call.
inline void copyRow(void* to, const void* from, int pixels)
{
    if (pixels % 4 == 0) {
        const auto* in = static_cast<const __m128i*>(from);
        auto* out = static_cast<__m128i*>(to);
        for (int i = 0; i < pixels / 4; ++i)
            _mm_storeu_si128(out + i, _mm_loadu_si128(in + i));
        return;
    }
    std::memcpy(to, from, std::size_t(pixels) * 4);
}

} // namespace

bool WaveLineRaster::gridLine(const QSize& size, const QPointF& from, const QPointF& to, const QColor& color,
                              int on, int off, GridLine& line)
{
    // Pixel centres: a horizontal line lies on y + 0.5, a vertical one on x + 0.5.
    line.horizontal = from.y() == to.y();
    const double fixed = line.horizontal ? from.y() : from.x();
    if (!(fixed >= 0) || fixed >= (line.horizontal ? size.height() : size.width()))
        return false;
    line.along = int(std::floor(fixed));
    const double a = line.horizontal ? std::min(from.x(), to.x()) : std::min(from.y(), to.y());
    const double b = line.horizontal ? std::max(from.x(), to.x()) : std::max(from.y(), to.y());
    const int extent = line.horizontal ? size.width() : size.height();
    line.start = int(std::lround(std::clamp(a, -1e9, 1e9)));
    line.first = std::max(line.start, 0);
    line.last = std::min(int(std::lround(std::clamp(b, -1e9, 1e9))), extent - 1);
    line.on = std::max(0, on);
    line.off = std::max(0, off);
    line.color = color;
    return line.first <= line.last;
}

namespace {

// The part of a grid line inside [x0, x1) x [y0, y1) of a target.
void drawGrid(const Target& t, const WaveLineRaster::GridLine& line)
{
    const bool horizontal = line.horizontal;
    if (horizontal ? (line.along < t.y0 || line.along >= t.y1) : (line.along < t.x0 || line.along >= t.x1))
        return;
    const int first = std::max(line.first, horizontal ? t.x0 : t.y0);
    const int last = std::min(line.last, (horizontal ? t.x1 : t.y1) - 1);
    const int period = std::max(1, line.on + line.off);
    int phase = (first - line.start) % period;
    for (int i = first; i <= last; ++i) {
        if (phase < line.on)
            blend(horizontal ? t.row(line.along) + (i - t.xBase) : t.row(i) + (line.along - t.xBase), t, 256);
        if (++phase == period)
            phase = 0;
    }
}

} // namespace

void WaveLineRaster::drawGridLine(QImage& image, const GridLine& line)
{
    Target t = target(line.color, 1.0);
    t.base = reinterpret_cast<quint32*>(image.bits());
    t.words = image.bytesPerLine() / 4;
    t.x1 = image.width();
    t.y1 = image.height();
    drawGrid(t, line);
}

void WaveLineRaster::drawPolyline(QImage& image, const QRect& clip, const QPointF* points, qsizetype count,
                                  const QColor& color, double strength)
{
    const Polyline line{points, count, color, strength};
    drawPolylines(image, clip, &line, 1);
}

void WaveLineRaster::drawPolylines(QImage& image, const QRect& clip, const Polyline* lines, qsizetype count,
                                   const Background* background)
{
    const QRect box = clip.intersected(image.rect());
    if (box.isEmpty() || (count <= 0 && !background))
        return;
    std::vector<Target> grid;
    if (background) {
        for (const GridLine& line : background->grid)
            grid.push_back(target(line.color, 1.0));
    }
    const quint32 fill = background ? 0xff000000u | background->fill.rgb() : 0;
    // Steep segments walk down the rows of a few columns. In the image each
    // row is a new cache line and most are a new page; so the columns are
    // drawn a narrow strip at a time in a compact copy (32 columns of 1080
    // rows: 135 KB) that stays in the core's cache while every curve is
    // drawn over it.
    constexpr int Strip = 32;
    std::vector<quint32> buffer(std::size_t(Strip) * std::size_t(box.height()));
    std::vector<Target> targets;
    targets.reserve(std::size_t(count));
    std::vector<PairAlpha> alphas(static_cast<std::size_t>(count) * 256);
    for (qsizetype k = 0; k < count; ++k) {
        Target t = target(lines[k].color, lines[k].strength);
        PairAlpha* table = &alphas[std::size_t(k) * 256];
        for (int f = 0; f < 256; ++f)
            table[f].lanes = _mm_unpacklo_epi64(_mm_set1_epi16(short(((256 - f) * t.alpha) >> 8)),
                                          _mm_set1_epi16(short((f * t.alpha) >> 8)));
        t.pairAlpha = table;
        targets.push_back(t);
    }
    std::vector<qsizetype> cursor(static_cast<std::size_t>(count), 1);
    std::vector<std::pair<qsizetype, qsizetype>> ranges(static_cast<std::size_t>(count));
    uchar* bits = image.bits();
    const qsizetype stride = image.bytesPerLine();
    // Strips start on multiples of the strip width, so each copies whole
    // cache lines of the image.
    for (int x0 = box.left(); x0 <= box.right(); x0 = (x0 / Strip + 1) * Strip) {
        const int x1 = std::min((x0 / Strip + 1) * Strip, box.right() + 1);
        // The segments of each curve near the strip, and the rows they reach.
        double top = std::numeric_limits<double>::infinity();
        double bottom = -top;
        for (qsizetype k = 0; k < count; ++k) {
            const Polyline& line = lines[k];
            auto& range = ranges[std::size_t(k)];
            range = {1, 1};
            if (line.count < 2 || targets[std::size_t(k)].alpha <= 0)
                continue;
            qsizetype& first = cursor[std::size_t(k)];
            while (first < line.count && std::max(line.points[first - 1].x(), line.points[first].x()) < x0 - 1.0)
                ++first;
            qsizetype last = first;
            while (last < line.count && std::min(line.points[last - 1].x(), line.points[last].x()) <= x1 + 1.0) {
                top = std::min({top, line.points[last - 1].y(), line.points[last].y()});
                bottom = std::max({bottom, line.points[last - 1].y(), line.points[last].y()});
                ++last;
            }
            range = {first, last};
        }
        const int width = x1 - x0;
        int bandTop = box.top();
        int bandBottom = box.bottom();
        if (background) {
            // The whole strip is painted here: the background, then the grid.
            std::fill(buffer.begin(), buffer.end(), fill);
            for (std::size_t g = 0; g < grid.size(); ++g) {
                Target t = grid[g];
                t.base = buffer.data();
                t.words = Strip;
                t.xBase = x0;
                t.yBase = bandTop;
                t.x0 = x0;
                t.x1 = x1;
                t.y0 = bandTop;
                t.y1 = bandBottom + 1;
                drawGrid(t, background->grid[g]);
            }
        } else {
            if (!(top <= bottom))
                continue;
            bandTop = int(std::max<double>(box.top(), std::floor(std::max(top, -1e9)) - 2));
            bandBottom = int(std::min<double>(box.bottom(), std::ceil(std::min(bottom, 1e9)) + 2));
            if (bandTop > bandBottom)
                continue;
            for (int y = bandTop; y <= bandBottom; ++y)
                copyRow(&buffer[std::size_t(y - bandTop) * Strip], bits + stride * y + qsizetype(x0) * 4, width);
        }
        for (qsizetype k = 0; k < count; ++k) {
            const auto [first, last] = ranges[std::size_t(k)];
            if (first >= last)
                continue;
            Target t = targets[std::size_t(k)];
            t.base = buffer.data();
            t.words = Strip;
            t.xBase = x0;
            t.yBase = bandTop;
            t.x0 = x0;
            t.x1 = x1;
            t.y0 = bandTop;
            t.y1 = bandBottom + 1;
            segments(t, lines[k].points, lines[k].count, first, last);
        }
        for (int y = bandTop; y <= bandBottom; ++y)
            copyRow(bits + stride * y + qsizetype(x0) * 4, &buffer[std::size_t(y - bandTop) * Strip], width);
    }
}

} // namespace vn
