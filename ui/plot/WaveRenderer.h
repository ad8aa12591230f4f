#pragma once

#include "ui/kit/Theme.h"
#include "ui/plot/WaveCurveStyle.h"
#include "ui/plot/WaveLineRaster.h"
#include "ui/plot/WaveRanges.h"

#include <QFont>
#include <QImage>
#include <QList>
#include <QRectF>
#include <QSize>
#include <QString>

#include <vector>

namespace vn {

// Tick values of one axis, each list ascending: majors carry a grid line and a
// label, minors a grid line only.
struct WaveTicks {
    QList<double> majors;
    QList<double> minors;
    double step = 0;   // between two majors; 0 without ticks
};

// Steps of 1, 2, 2.5, 5 or 10 times a power of ten, about minSpacing pixels
// apart; whole steps only when integerSteps. At most 512 ticks.
WaveTicks axisGrid(const WaveRange& range, double pixelSpan, double minSpacing, bool integerSteps);

// The pixel column of x: floor((x - xlow) / xspan × width), in 64 bits and
// clamped, so a neighbour far off screen cannot overflow it.
qint64 pixelColumn(double x, double xlow, double xspan, double width);

// The points to draw of a curve in the x range [xlow, xhigh]: from the point
// before the first one inside to the first one beyond, [begin, end).
std::pair<qsizetype, qsizetype> visibleSlice(const WavePoints& points, double xlow, double xhigh);

// Per pixel column of the slice, the indices of its first, lowest, highest and
// last point, each once, in sample order. Ties keep the earlier point.
void decimate(const WavePoints& points, qsizetype begin, qsizetype end, double xlow, double xspan,
              double width, std::vector<qsizetype>& out);

// The data rectangle of a plot of the given size in widget coordinates.
QRectF wavePlotArea(const QSize& size, const QFont& font, const WaveRange& yRange, bool xAxisVisible,
                    bool yAxisVisible, bool hasYLabel);

// Label text of an axis value: seven significant digits, or as many as it
// takes to tell ticks that far apart from each other (a narrow window onto
// huge values), at most 17.
QString waveAxisText(double value, double step = 0);

// One curve to draw.
struct WaveCurveDraw {
    const WavePoints* points = nullptr;
    QColor color;
    WaveCurveStyle style;
};

// Everything one rendering of the static plot image reads.
struct WaveScene {
    QSize size;
    qreal ratio = 1.0;
    QFont font;
    Theme theme;
    QRectF area;
    WaveRange x{0, 1};
    WaveRange y{0, 1};
    double xIncrement = 1.0;
    bool xAxisVisible = true;
    bool yAxisVisible = true;
    QString xLabel;
    QString yLabel;
    bool empty = true;                    // no curve at all: the hint is shown
    std::vector<WaveCurveDraw> curves;    // visible curves in key order
};

// Draws background, grid, ticks, labels, titles and decimated curves into
// the cached image. Keeps its scratch buffers between renderings.
class WaveRenderer {
public:
    // Resizes the image when its device size or ratio changed, then redraws it whole.
    void render(QImage& image, const WaveScene& scene);

private:
    // A curve decimated and mapped: in device pixels for the raster, in
    // widget pixels for the painter.
    struct Prepared {
        bool raster = false;
        std::size_t vertices = 0;   // its list in `vertices`
        QColor color;
        WaveCurveStyle style;
    };

    // Grid lines go to `grid` when given, else into the image.
    void drawFrame(QPainter& painter, QImage& image, const WaveScene& scene,
                   std::vector<WaveLineRaster::GridLine>* grid);
    void prepareCurves(const WaveScene& scene);
    void drawCurves(QPainter& painter, QImage& image, const WaveScene& scene);

    std::vector<qsizetype> indices;
    std::vector<std::vector<QPointF>> vertices;
    std::vector<Prepared> prepared;
};

} // namespace vn
