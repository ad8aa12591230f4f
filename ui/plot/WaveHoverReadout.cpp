#include "ui/plot/WaveHoverReadout.h"

#include "ui/plot/WavePlot.h"

#include <QFontMetrics>
#include <QLocale>
#include <QPainter>

#include <algorithm>
#include <cmath>

namespace vn {

namespace {

QString shortestNumber(double value)
{
    return QLocale::c().toString(value, 'g', QLocale::FloatingPointShortest);
}

double pixelRow(double y, const QRectF& area, const WaveRange& range)
{
    const long double py = (long double)area.bottom()
                           - ((long double)y - range.first) / ((long double)range.second - range.first) * area.height();
    return double(std::clamp<long double>(py, -1e9L, 1e9L));
}

} // namespace

QJsonObject WaveHoverReadout::inspect(const QPointF& point) const
{
    const QRectF area = plot.plotArea();
    if (!area.contains(point))
        return {};
    const WaveRange x = plot.horizontalRange();
    const WaveRange y = plot.verticalRange();
    const double at = x.first + (point.x() - area.left()) / area.width() * (x.second - x.first);
    bool found = false;
    double best = 0;
    QString bestKey;
    QPointF bestPoint;
    for (auto it = plot.curves().cbegin(); it != plot.curves().cend(); ++it) {
        if (!plot.isCurveVisible(it.key()))
            continue;
        const WavePoints& points = it.value();
        const auto after = std::lower_bound(points.cbegin(), points.cend(), at,
                                            [](const QPointF& p, double v) { return p.x() < v; });
        const qsizetype index = after - points.cbegin();
        for (qsizetype candidate : {index, index - 1}) {
            if (candidate < 0 || candidate >= points.size())
                continue;
            const QPointF& p = points.at(candidate);
            if (p.x() < x.first || p.x() > x.second)
                continue;
            const double row = pixelRow(p.y(), area, y);
            if (row < area.top() || row > area.bottom())
                continue;
            const double column = area.left() + (p.x() - x.first) / (x.second - x.first) * area.width();
            const double distance = std::hypot(column - point.x(), row - point.y());
            if (!found || distance < best) {
                found = true;
                best = distance;
                bestKey = it.key();
                bestPoint = p;
            }
        }
    }
    if (!found)
        return {};
    return QJsonObject{{QStringLiteral("channel"), bestKey},
                       {QStringLiteral("sample"), bestPoint.x()},
                       {QStringLiteral("value"), bestPoint.y()}};
}

QStringList WaveHoverReadout::lines(const QJsonObject& hit) const
{
    const QString key = hit.value(QLatin1String("channel")).toString();
    const double sample = hit.value(QLatin1String("sample")).toDouble();
    const double value = hit.value(QLatin1String("value")).toDouble();
    const WavePresentation& present = plot.presentation();
    const QString unit = present.yUnit.isEmpty() ? QString() : QLatin1Char(' ') + present.yUnit;
    QStringList out{plot.curveLabel(key), QStringLiteral("值  ") + shortestNumber(value) + unit,
                    QStringLiteral("采样  #") + QString::number(hit.value(QLatin1String("sample")).toInteger())};
    if (present.xIncrement != 1.0 || !present.xUnit.isEmpty())
        out.append(QStringLiteral("X  ") + shortestNumber(sample * present.xIncrement) + QLatin1Char(' ')
                   + present.xUnit);
    return out;
}

QRectF WaveHoverReadout::box(const QPointF& at, const QStringList& text) const
{
    const QFontMetrics fm(plot.font());
    const int w = plot.width();
    const int h = plot.height();
    int widest = 0;
    for (const QString& line : text)
        widest = std::max(widest, fm.horizontalAdvance(line));
    const double bw = std::min(widest + 24, w - 16);
    const double bh = double(text.size()) * fm.height() + 20;
    // Beside the pointer, flipped to its other side near the right and
    // bottom edges, and kept off the widget's edges.
    double x0 = at.x() + 18;
    if (x0 + bw > w - 8)
        x0 = at.x() - bw - 18;
    double y0 = at.y() + 18;
    if (y0 + bh > h - 44)
        y0 = at.y() - bh - 18;
    const double left = w - bw - 8 <= 8 ? 8 : double(int(std::clamp(x0, 8.0, w - bw - 8) + 0.5));
    const double top = h - bh - 4 <= 4 ? 4 : double(int(std::clamp(y0, 4.0, h - bh - 4) + 0.5));
    return QRectF(left, top, bw, bh);
}

void WaveHoverReadout::draw(QPainter& painter, const QPointF& hoverPos) const
{
    const QJsonObject hit = inspect(hoverPos);
    if (hit.isEmpty())
        return;
    const QString key = hit.value(QLatin1String("channel")).toString();
    const double sample = hit.value(QLatin1String("sample")).toDouble();
    const double value = hit.value(QLatin1String("value")).toDouble();
    const QRectF area = plot.plotArea();
    const WaveRange x = plot.horizontalRange();
    const WaveRange y = plot.verticalRange();
    const double px = area.x() + (sample - x.first) / (x.second - x.first) * area.width();
    const double py = pixelRow(value, area, y);

    painter.setRenderHint(QPainter::Antialiasing, true);
    painter.setPen(QPen(plot.theme.muted, 1, Qt::DashLine, Qt::SquareCap, Qt::BevelJoin));
    painter.drawLine(QPointF(px, area.y()), QPointF(px, area.y() + area.height()));
    painter.drawLine(QPointF(area.x(), py), QPointF(area.x() + area.width(), py));
    const QColor colour = plot.curveColor(key);
    painter.setPen(QPen(colour, 2, Qt::SolidLine, Qt::SquareCap, Qt::BevelJoin));
    painter.setBrush(plot.theme.panel);
    painter.drawEllipse(QRectF(px - 4, py - 4, 8, 8));

    const QStringList text = lines(hit);
    const QFontMetrics fm(plot.font());
    const int fh = fm.height();
    const QRectF frame = box(hoverPos, text);
    const double left = frame.left();
    const double top = frame.top();
    const double bw = frame.width();
    const double bh = frame.height();

    painter.setPen(Qt::NoPen);
    painter.setBrush(QColor(0, 0, 0, 25));
    painter.drawRect(QRectF(left + 2, top + 2, bw, bh));
    painter.setPen(plot.theme.edge);
    painter.setBrush(plot.theme.panel);
    painter.drawRect(QRectF(left, top, bw, bh));
    painter.fillRect(QRectF(left, top, 3, bh), colour);
    painter.setPen(plot.theme.text);
    for (int j = 0; j < text.size(); ++j) {
        const QString line = j == 0 ? fm.elidedText(text.at(j), Qt::ElideMiddle, int(bw - 24)) : text.at(j);
        painter.drawText(QPointF(left + 12, top + 10 + fm.ascent() + j * fh), line);
    }
}

} // namespace vn
