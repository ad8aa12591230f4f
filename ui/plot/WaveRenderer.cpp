#include "ui/plot/WaveRenderer.h"

#include "ui/plot/WaveLineRaster.h"

#include <QFontMetrics>
#include <QLocale>
#include <QPainter>

#include <algorithm>
#include <cmath>
#include <limits>

namespace vn {

namespace {

using Wide = long double;

constexpr double PixelLimit = 1e9;

double mapX(double x, const QRectF& area, const WaveRange& range)
{
    return area.x() + (x - range.first) / (range.second - range.first) * area.width();
}

double mapY(double y, const QRectF& area, const WaveRange& range)
{
    const Wide py = Wide(area.y()) + area.height()
                    - (Wide(y) - range.first) / (Wide(range.second) - range.first) * area.height();
    if (!(py >= -PixelLimit))
        return py != py ? 0.0 : -PixelLimit;
    return double(std::min<Wide>(py, PixelLimit));
}

// One-pixel lines fall on pixel centres.
double gridY(double py)
{
    if (py < -PixelLimit)
        return -999999999.5;
    if (py > PixelLimit)
        return 1000000000.5;
    return std::round(py) + 0.5;
}

QPen dashedPen(QColor colour, int alpha, qreal on, qreal off)
{
    colour.setAlpha(alpha);
    QPen pen(colour, 1);
    pen.setDashPattern({on, off});
    pen.setCapStyle(Qt::SquareCap);
    pen.setJoinStyle(Qt::BevelJoin);
    return pen;
}

int textAdvance(const QFontMetrics& fm, double value, double step = 0)
{
    return fm.horizontalAdvance(waveAxisText(value, step));
}

// Columns far off screen only need to differ from the visible ones, so the
// index is clamped to ±2^62 instead of overflowing.
inline qint64 columnOf(double x, double xlow, double xspan, double width)
{
    constexpr double limit = 4611686018427387904.0;   // 2^62
    const double column = (x - xlow) / xspan * width;
    if (!(column > -limit))
        return column != column ? 0 : -qint64(limit);
    if (column >= limit)
        return qint64(limit);
    const qint64 whole = qint64(column);   // toward zero; floor below
    return double(whole) > column ? whole - 1 : whole;
}

} // namespace

QString waveAxisText(double value, double step)
{
    int digits = 7;
    if (step > 0 && value != 0 && std::isfinite(value) && std::isfinite(step)) {
        const double needed = std::floor(std::log10(std::abs(value))) - std::floor(std::log10(step)) + 2;
        digits = int(std::clamp(needed, 7.0, 17.0));
    }
    return QLocale::c().toString(value, 'g', digits);
}

WaveTicks axisGrid(const WaveRange& range, double pixelSpan, double minSpacing, bool integerSteps)
{
    WaveTicks ticks;
    const Wide low = range.first;
    const Wide high = range.second;
    // In long double a span up to twice DBL_MAX stays finite, so a range
    // holding both -1e308 and 1e308 still gets its ticks.
    const Wide d = high - low;
    if (!std::isfinite(double(low)) || !std::isfinite(double(high)) || !std::isfinite(d))
        return ticks;
    const Wide t = Wide(pixelSpan) / minSpacing;
    const Wide raw = t > 1 ? d / t : d;
    const Wide floorValue = integerSteps ? 1.0L : 1e-300L;
    const Wide r = raw > floorValue ? raw : floorValue;
    const Wide magnitude = std::pow(10.0L, std::floor(std::log10(r)));
    Wide step = magnitude;
    Wide best = 0;
    bool found = false;
    for (const Wide factor : {1.0L, 2.0L, 2.5L, 5.0L, 10.0L}) {
        Wide candidate = factor * magnitude;
        if (integerSteps)
            candidate = std::max<Wide>(std::ceil(candidate), 1);
        const Wide distance = std::abs(std::log(candidate / raw));
        if (std::isfinite(double(distance)) && (!found || distance < best)) {
            best = distance;
            step = candidate;
            found = true;
        }
    }
    const auto count = [](Wide n) { return !(n + 2 < 512) ? 512 : std::max(0, int(n + 2)); };
    if (integerSteps && step < 2) {
        const Wide k0 = std::ceil(low / step);
        const Wide n = std::ceil(d / step);
        if (n < -1)
            return ticks;
        for (int i = 0, total = count(n); i < total; ++i) {
            Wide v = (k0 + i) * step;
            if (v > high + step * 1e-9L)
                break;
            if (std::abs(v) < step * 1e-9L)
                v = 0;
            ticks.majors.append(double(v));
        }
        ticks.step = double(step);
        return ticks;
    }
    const Wide h = step / 2;
    const Wide k0 = std::ceil(low / h);
    const Wide n = std::ceil(d / h);
    if (n < -1)
        return ticks;
    for (int i = 0, total = count(n); i < total; ++i) {
        const Wide k = k0 + i;
        Wide v = k * h;
        if (v > high + h * 1e-9L)
            break;
        if (std::abs(v) < h * 1e-9L)
            v = 0;
        if (!std::isfinite(double(v)))
            continue;   // just past ±DBL_MAX at the very end of the doubles
        if (std::abs(std::remainder(k, 2.0L)) < 0.1L)
            ticks.majors.append(double(v));
        else
            ticks.minors.append(double(v));
    }
    ticks.step = double(step);
    return ticks;
}

qint64 pixelColumn(double x, double xlow, double xspan, double width)
{
    return columnOf(x, xlow, xspan, width);
}

std::pair<qsizetype, qsizetype> visibleSlice(const WavePoints& points, double xlow, double xhigh)
{
    const auto lower = std::lower_bound(points.cbegin(), points.cend(), xlow,
                                        [](const QPointF& p, double x) { return p.x() < x; });
    qsizetype begin = lower - points.cbegin();
    if (begin > 0)
        --begin;
    const auto upper = std::upper_bound(lower, points.cend(), xhigh,
                                        [](double x, const QPointF& p) { return x < p.x(); });
    qsizetype end = upper - points.cbegin();
    if (end < points.size())
        ++end;   // the first point beyond, so the segment to it is drawn
    return {begin, end};
}

void decimate(const WavePoints& points, qsizetype begin, qsizetype end, double xlow, double xspan,
              double width, std::vector<qsizetype>& out)
{
    out.clear();
    const QPointF* p = points.constData();
    // The column grows with x, so a point clearly left of where the next
    // column begins shares the column without the division; only points near
    // that edge are computed exactly.
    const double pitch = xspan / width;
    qsizetype i = begin;
    while (i < end) {
        const qint64 column = columnOf(p[i].x(), xlow, xspan, width);
        double sure = -std::numeric_limits<double>::infinity();
        if (column > -(qint64(1) << 40) && column < (qint64(1) << 40)) {
            const double edge = xlow + double(column + 1) * pitch;
            sure = edge - (std::abs(edge) + std::abs(xlow) + std::abs(pitch)) * 1e-12;
        }
        qsizetype lo = i;
        qsizetype hi = i;
        qsizetype j = i + 1;
        while (j < end && (p[j].x() < sure || columnOf(p[j].x(), xlow, xspan, width) == column)) {
            if (p[j].y() < p[lo].y())
                lo = j;
            if (p[j].y() > p[hi].y())
                hi = j;
            ++j;
        }
        const qsizetype last = j - 1;
        out.push_back(i);
        const qsizetype a = std::min(lo, hi);
        const qsizetype b = std::max(lo, hi);
        if (a != i)
            out.push_back(a);
        if (b != a && b != i)
            out.push_back(b);
        if (last != b && last != i)
            out.push_back(last);
        i = j;
    }
}

QRectF wavePlotArea(const QSize& size, const QFont& font, const WaveRange& yRange, bool xAxisVisible,
                    bool yAxisVisible, bool hasYLabel)
{
    const QFontMetrics fm(font);
    const int fh = fm.height();
    const int w = size.width();
    const int h = size.height();
    double left = 12;
    if (yAxisVisible) {
        const WaveTicks ticks = axisGrid(yRange, std::max(1, h - 2 * fh - 92), std::max(60, 3 * fh), false);
        int labelWidth = 0;
        for (double v : ticks.majors)
            labelWidth = std::max(labelWidth, textAdvance(fm, v, ticks.step));
        const int titleBand = hasYLabel ? fh + 8 : 0;
        const int labelBand = w <= 194 ? 64 : std::min(w / 3, std::max(64, labelWidth + 16));
        left = titleBand + labelBand;
    }
    const double top = 2 * fh + 32;
    const double bottom = xAxisVisible ? 60 : 12;
    return QRectF(left, top, std::max(1.0, w - left - 24), std::max(1.0, h - top - bottom));
}

namespace {

QRect deviceRect(const QRectF& area, qreal ratio)
{
    return QRect(QPoint(int(std::floor(area.left() * ratio)), int(std::floor(area.top() * ratio))),
                 QPoint(int(std::ceil(area.right() * ratio)) - 1, int(std::ceil(area.bottom() * ratio)) - 1));
}

// Fills the image but the rectangle, which the strip raster paints itself.
void fillAround(QImage& image, const QRect& hole, const QColor& colour)
{
    const quint32 value = 0xff000000u | colour.rgb();
    const QRect inner = hole.intersected(image.rect());
    for (int y = 0; y < image.height(); ++y) {
        auto* row = reinterpret_cast<quint32*>(image.scanLine(y));
        if (y < inner.top() || y > inner.bottom() || inner.isEmpty()) {
            std::fill_n(row, image.width(), value);
            continue;
        }
        std::fill_n(row, inner.left(), value);
        std::fill(row + inner.right() + 1, row + image.width(), value);
    }
}

} // namespace

void WaveRenderer::render(QImage& image, const WaveScene& scene)
{
    const QSize device(int(std::ceil(scene.size.width() * scene.ratio)),
                       int(std::ceil(scene.size.height() * scene.ratio)));
    if (image.size() != device || image.devicePixelRatio() != scene.ratio
        || image.format() != QImage::Format_ARGB32_Premultiplied) {
        image = QImage(device, QImage::Format_ARGB32_Premultiplied);
        image.setDevicePixelRatio(scene.ratio);
    }
    prepareCurves(scene);
    // When the strip raster draws every curve, it also paints the plot area's
    // background and grid, strip by strip, instead of copying them in.
    const bool direct = scene.ratio == 1.0 && !prepared.empty()
                        && std::all_of(prepared.begin(), prepared.end(), [](const Prepared& c) { return c.raster; });
    if (direct) {
        const QRect clip = deviceRect(scene.area, scene.ratio);
        fillAround(image, clip, scene.theme.panel);
        WaveLineRaster::Background background{scene.theme.panel, {}};
        {
            QPainter painter(&image);
            painter.setFont(scene.font);
            painter.setRenderHint(QPainter::TextAntialiasing, true);
            drawFrame(painter, image, scene, &background.grid);
        }
        std::vector<WaveLineRaster::Polyline> batch;
        for (const Prepared& curve : prepared) {
            const std::vector<QPointF>& points = vertices[curve.vertices];
            batch.push_back({points.data(), qsizetype(points.size()), curve.color, curve.style.width});
        }
        WaveLineRaster::drawPolylines(image, clip, batch.data(), qsizetype(batch.size()), &background);
        return;
    }
    image.fill(scene.theme.panel);
    QPainter painter(&image);
    painter.setFont(scene.font);
    painter.setRenderHint(QPainter::TextAntialiasing, true);
    drawFrame(painter, image, scene, nullptr);
    drawCurves(painter, image, scene);
}

void WaveRenderer::drawFrame(QPainter& painter, QImage& image, const WaveScene& scene,
                             std::vector<WaveLineRaster::GridLine>* grid)
{
    const Theme& theme = scene.theme;
    const QRectF& area = scene.area;
    const QFontMetrics fm(scene.font);
    const int fh = fm.height();
    const int w = scene.size.width();
    const int h = scene.size.height();
    const double inc = scene.xIncrement;
    const double xlow = scene.x.first;
    const double xhigh = scene.x.second;

    const WaveTicks yTicks = axisGrid(scene.y, area.height(), std::max(60, 3 * fh), false);
    const int endWidth = std::max(textAdvance(fm, xhigh * inc), textAdvance(fm, xlow * inc));
    const WaveTicks xTicks = axisGrid({xlow * inc, xhigh * inc}, area.width(), std::max(88, endWidth + 20),
                                      inc == 1.0);
    const auto lineY = [&](double v) { return gridY(mapY(v, area, scene.y)); };
    const auto lineX = [&](double v) { return std::round(mapX(v / inc, area, scene.x)) + 0.5; };
    const double right = area.x() + area.width();
    const double bottom = area.y() + area.height();

    const QPen minor = dashedPen(theme.line, 75, 2, 4);
    const QPen major = dashedPen(theme.line, 155, 3, 3);
    // At one device pixel per pixel the dashed grid is drawn straight into
    // the image: the painter's dashed lines cost more than all the text.
    const bool direct = scene.ratio == 1.0;
    const auto gridLine = [&](const QPen& pen, const QPointF& from, const QPointF& to) {
        if (!direct) {
            painter.setPen(pen);
            painter.drawLine(from, to);
            return;
        }
        const QList<qreal> dashes = pen.dashPattern();
        WaveLineRaster::GridLine line;
        if (!WaveLineRaster::gridLine(image.size(), from, to, pen.color(), int(dashes.value(0)),
                                      int(dashes.value(1)), line))
            return;
        if (grid)
            grid->push_back(line);
        else
            WaveLineRaster::drawGridLine(image, line);
    };
    for (double v : yTicks.minors) {
        const double y = lineY(v);
        gridLine(minor, QPointF(area.x(), y), QPointF(right, y));
    }
    for (double v : xTicks.minors) {
        const double x = lineX(v);
        gridLine(minor, QPointF(x, area.y()), QPointF(x, bottom));
    }

    const double labelLeft = scene.yLabel.isEmpty() ? 2 : fh + 10;
    for (double v : yTicks.majors) {
        const double y = lineY(v);
        gridLine(major, QPointF(area.x(), y), QPointF(right, y));
        if (!scene.yAxisVisible)
            continue;
        painter.setPen(theme.muted);
        painter.drawLine(QPointF(area.x() - 4, y), QPointF(area.x(), y));
        painter.setPen(theme.text);
        painter.drawText(QRectF(labelLeft, std::round(y) - 11, area.x() - 10 - labelLeft, 22),
                         Qt::AlignRight | Qt::AlignVCenter, waveAxisText(v, yTicks.step));
    }

    const double lw = std::max(24, endWidth + 8);
    bool anyLabel = false;
    double lastRight = 0;
    for (double v : xTicks.majors) {
        const double x = lineX(v);
        gridLine(major, QPointF(x, area.y()), QPointF(x, bottom));
        if (!scene.xAxisVisible)
            continue;
        painter.setPen(theme.muted);
        painter.drawLine(QPointF(x, bottom), QPointF(x, bottom + 5));
        const double labelX = std::max(2.0, std::min(w - lw - 2, x - lw / 2));
        if (anyLabel && labelX < lastRight + 8)
            continue;
        painter.setPen(theme.text);
        painter.drawText(QRectF(labelX, bottom + 8, lw, 22), Qt::AlignCenter, waveAxisText(v, xTicks.step));
        anyLabel = true;
        lastRight = labelX + lw;
    }

    if (scene.xAxisVisible) {
        painter.setPen(theme.muted);
        painter.drawLine(QPointF(area.x(), bottom), QPointF(right, bottom));
        painter.setPen(theme.text);
        painter.drawText(QRectF(area.x(), h - 22, area.width(), 20), Qt::AlignCenter,
                         fm.elidedText(scene.xLabel, Qt::ElideRight, int(std::floor(area.width()))));
    }
    if (scene.yAxisVisible && !scene.yLabel.isEmpty()) {
        painter.save();
        painter.setPen(theme.text);
        painter.translate(2, area.y() + area.height() / 2);
        painter.rotate(-90);
        painter.drawText(QRectF(-area.height() / 2, 0, area.height(), fh + 4), Qt::AlignCenter,
                         fm.elidedText(scene.yLabel, Qt::ElideRight, int(std::floor(area.height()))));
        painter.restore();
    }
    painter.setPen(theme.text);
    if (scene.empty) {
        painter.drawText(area, Qt::AlignCenter | Qt::TextWordWrap,
                         QStringLiteral("等待 @wave 报文\n点击「数据格式」查看示例"));
    }
}

void WaveRenderer::prepareCurves(const WaveScene& scene)
{
    const QRectF& area = scene.area;
    const double xlow = scene.x.first;
    const double xspan = scene.x.second - scene.x.first;
    const qreal ratio = scene.ratio;
    prepared.clear();
    std::size_t used = 0;
    for (const WaveCurveDraw& curve : scene.curves) {
        const WavePoints& points = *curve.points;
        if (points.isEmpty())
            continue;
        const auto [begin, end] = visibleSlice(points, xlow, xlow + xspan);
        decimate(points, begin, end, xlow, xspan, area.width(), indices);
        // Thin solid curves go to the strip raster, in device pixels.
        const bool raster = indices.size() >= 2 && WaveLineRaster::handles(curve.style.width, curve.style.line);
        const double scale = raster ? ratio : 1.0;
        if (vertices.size() <= used)
            vertices.resize(used + 1);
        std::vector<QPointF>& out = vertices[used];
        out.clear();
        out.reserve(indices.size());
        for (qsizetype index : indices) {
            const QPointF& p = points.at(index);
            out.emplace_back(mapX(p.x(), area, scene.x) * scale, mapY(p.y(), area, scene.y) * scale);
        }
        prepared.push_back({raster, used++, curve.color, curve.style});
    }
}

void WaveRenderer::drawCurves(QPainter& painter, QImage& image, const WaveScene& scene)
{
    painter.setClipRect(scene.area, Qt::ReplaceClip);
    painter.setRenderHint(QPainter::Antialiasing, true);
    const QRect deviceClip = deviceRect(scene.area, scene.ratio);
    // Raster curves are drawn in batches; a curve the painter draws ends the
    // batch first, so curves stay in key order.
    std::vector<WaveLineRaster::Polyline> batch;
    const auto flush = [&] {
        if (!batch.empty())
            WaveLineRaster::drawPolylines(image, deviceClip, batch.data(), qsizetype(batch.size()));
        batch.clear();
    };
    for (const Prepared& curve : prepared) {
        const std::vector<QPointF>& points = vertices[curve.vertices];
        if (curve.raster) {
            batch.push_back({points.data(), qsizetype(points.size()), curve.color, curve.style.width});
            continue;
        }
        flush();
        const WaveCurveStyle& style = curve.style;
        QPen pen(QBrush(curve.color), style.width, Qt::PenStyle(style.line), Qt::SquareCap, Qt::BevelJoin);
        pen.setCosmetic(true);
        painter.setPen(pen);
        painter.setBrush(Qt::NoBrush);
        painter.drawPolyline(points.data(), int(points.size()));
        if (points.size() == 1)
            painter.drawEllipse(QRectF(points.front() - QPointF(2, 2), QSizeF(4, 4)));
    }
    flush();
}

} // namespace vn
