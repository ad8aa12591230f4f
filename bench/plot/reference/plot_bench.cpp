// The plot reference program: QCustomPlot 2.1 and a plain QPainter min/max
// decimation drawing the same 16 x 5,000 points. Kept as it was handed to us,
// so its figures stay comparable with the ones measured before; bench_plot runs
// it in turns with our plot.
// Plot rendering anchors: 16 curves x 5,000 points into a 1920x1080 image,
// offscreen.  Variants (median of 50 redraws after 5 warm-up redraws):
//   qcp-replot       QCustomPlot 2.1 (Qt 6) replot() into its 1920x1080 paint
//                    buffer, adaptive sampling on (rpQueuedRefresh: no blit)
//   qcp-topixmap     QCustomPlot::toPixmap(1920, 1080), adaptive sampling on
//   qcp-replot-noas  as qcp-replot with adaptive sampling off
//   qp-frame         plain QPainter: background, dashed grid, ticks, labels only
//   qp-raw           qp-frame + one antialiased polyline per curve, all points
//   qp-minmax        qp-frame + per-pixel-column min/max decimation
// Usage: QT_QPA_PLATFORM=offscreen plot_bench [variant[,variant...]|all] [redraws=50] [png_dir]
#include <QApplication>
#include <QElapsedTimer>
#include <QLocale>
#include <QPainter>
#include <QPixmap>
#include <qcustomplot.h>
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <vector>

static const int W = 1920, H = 1080, CURVES = 16, POINTS = 5000;

struct Curve { std::vector<double> x, y; QColor colour; };

static std::vector<Curve> makeData() {
    std::vector<Curve> cs(CURVES);
    uint64_t s = 0x853C49E6748FEA9Bull;
    auto rnd = [&]() { s ^= s << 13; s ^= s >> 7; s ^= s << 17; return (double)(s >> 11) / 9007199254740992.0; };
    for (int k = 0; k < CURVES; k++) {
        Curve &c = cs[k];
        c.colour = QColor::fromHsv((k * 360 / CURVES) % 360, 200, 220);
        double amp = 1.0 + k * 0.15, freq = 1 + k * 0.7, off = (k - CURVES / 2) * 0.8;
        c.x.resize(POINTS); c.y.resize(POINTS);
        for (int i = 0; i < POINTS; i++) {
            c.x[i] = i;
            c.y[i] = off + amp * std::sin(2 * M_PI * freq * i / POINTS) + (rnd() - 0.5) * 0.6 * amp;
        }
    }
    return cs;
}

static double median(std::vector<double> v) { std::sort(v.begin(), v.end()); size_t n = v.size(); return n % 2 ? v[n / 2] : (v[n / 2 - 1] + v[n / 2]) / 2; }

// ---------------- plain QPainter ----------------
struct Ranges { double xlo, xhi, ylo, yhi; };

static QRectF plotArea(const QFontMetrics &fm) {
    double left = 80, top = 2 * fm.height() + 32;
    return QRectF(left, top, std::max(1.0, W - left - 24), std::max(1.0, H - top - 60));
}

static void drawFrame(QPainter &p, const QRectF &area, const Ranges &r) {
    p.fillRect(QRect(0, 0, W, H), QColor(0xFB, 0xFC, 0xFE));
    p.setRenderHint(QPainter::TextAntialiasing, true);
    QColor line(0xB0, 0xB8, 0xC4), muted(0x8A, 0x93, 0xA0), text(0x20, 0x26, 0x30);
    auto dashed = [&](int alpha, qreal on, qreal off) {
        QColor c = line; c.setAlpha(alpha);
        QPen pen(c, 1); pen.setDashPattern({on, off}); pen.setCapStyle(Qt::SquareCap); pen.setJoinStyle(Qt::BevelJoin);
        return pen;
    };
    QPen minor = dashed(75, 2, 4), major = dashed(155, 3, 3);
    const int ny = 10, nx = 10;
    for (int pass = 0; pass < 2; pass++) {            // minor lines, then major lines with ticks and labels
        p.setPen(pass ? major : minor);
        for (int i = 0; i <= 2 * ny; i++) {
            if ((i % 2 == 0) != (pass == 1)) continue;
            double v = r.ylo + (r.yhi - r.ylo) * i / (2 * ny);
            double py = std::round(area.y() + area.height() - (v - r.ylo) / (r.yhi - r.ylo) * area.height()) + 0.5;
            p.setPen(pass ? major : minor);
            p.drawLine(QPointF(area.left(), py), QPointF(area.right(), py));
            if (pass) {
                p.setPen(muted); p.drawLine(QPointF(area.left() - 4, py), QPointF(area.left(), py));
                p.setPen(text);
                p.drawText(QRectF(2, std::round(py) - 11, area.left() - 12, 22), Qt::AlignRight | Qt::AlignVCenter, QLocale::c().toString(v, 'g', 7));
            }
        }
        for (int i = 0; i <= 2 * nx; i++) {
            if ((i % 2 == 0) != (pass == 1)) continue;
            double v = r.xlo + (r.xhi - r.xlo) * i / (2 * nx);
            double px = std::round(area.x() + (v - r.xlo) / (r.xhi - r.xlo) * area.width()) + 0.5;
            p.setPen(pass ? major : minor);
            p.drawLine(QPointF(px, area.top()), QPointF(px, area.bottom()));
            if (pass) {
                p.setPen(muted); p.drawLine(QPointF(px, area.bottom()), QPointF(px, area.bottom() + 5));
                p.setPen(text);
                p.drawText(QRectF(px - 40, area.bottom() + 8, 80, 22), Qt::AlignCenter, QLocale::c().toString(v, 'g', 7));
            }
        }
    }
    p.setPen(muted);
    p.drawLine(QPointF(area.left(), area.bottom()), QPointF(area.right(), area.bottom()));
    p.setPen(text);
    p.drawText(QRectF(area.x(), H - 22, area.width(), 20), Qt::AlignCenter, QStringLiteral("sample"));
}

static inline double mapY(double y, const QRectF &a, const Ranges &r) {
    long double py = (long double)a.y() + a.height() - ((long double)y - r.ylo) / ((long double)r.yhi - r.ylo) * a.height();
    return (double)std::clamp(py, (long double)-1e9, (long double)1e9);
}

// mode 0: frame only; 1: all points; 2: per-pixel-column min/max
static void renderPlain(QPixmap &img, const std::vector<Curve> &cs, const Ranges &r, int mode, std::vector<QPointF> &pts) {
    QPainter p(&img);
    QRectF area = plotArea(p.fontMetrics());
    drawFrame(p, area, r);
    if (mode == 0) return;
    p.setClipRect(area);
    p.setRenderHint(QPainter::Antialiasing, true);
    const double xspan = r.xhi - r.xlo;
    for (const Curve &c : cs) {
        QPen pen(c.colour, 1); pen.setCapStyle(Qt::SquareCap); pen.setJoinStyle(Qt::BevelJoin); pen.setCosmetic(true);
        p.setPen(pen);
        // visible slice by bisection (whole curve here; kept for equal work)
        size_t b = std::lower_bound(c.x.begin(), c.x.end(), r.xlo) - c.x.begin();
        if (b > 0) b--;
        size_t e = std::upper_bound(c.x.begin(), c.x.end(), r.xlo + xspan) - c.x.begin();
        if (e < c.x.size()) e++;
        pts.clear();
        if (mode == 1) {
            for (size_t i = b; i < e; i++) pts.emplace_back(area.x() + (c.x[i] - r.xlo) / xspan * area.width(), mapY(c.y[i], area, r));
        } else {
            size_t i = b;
            while (i < e) {
                long col = (long)std::floor((c.x[i] - r.xlo) / xspan * area.width());
                size_t lo = i, hi = i, j = i + 1;
                while (j < e && (long)std::floor((c.x[j] - r.xlo) / xspan * area.width()) == col) {
                    if (c.y[j] < c.y[lo]) lo = j;
                    if (c.y[j] > c.y[hi]) hi = j;
                    j++;
                }
                size_t first = std::min(lo, hi), second = std::max(lo, hi);
                pts.emplace_back(area.x() + (c.x[first] - r.xlo) / xspan * area.width(), mapY(c.y[first], area, r));
                if (second != first) pts.emplace_back(area.x() + (c.x[second] - r.xlo) / xspan * area.width(), mapY(c.y[second], area, r));
                i = j;
            }
        }
        p.drawPolyline(pts.data(), (int)pts.size());
    }
}

// ---------------- QCustomPlot ----------------
static QCustomPlot *makeQcp(const std::vector<Curve> &cs, bool adaptive) {
    auto *plot = new QCustomPlot;
    plot->resize(W, H);
    plot->show();                       // offscreen platform: delivers the resize, so the paint buffers are 1920x1080
    QCoreApplication::processEvents();
    if (plot->viewport() != QRect(0, 0, W, H)) { fprintf(stderr, "unexpected viewport\n"); exit(1); }
    for (const Curve &c : cs) {
        QCPGraph *g = plot->addGraph();
        g->setData(QVector<double>(c.x.begin(), c.x.end()), QVector<double>(c.y.begin(), c.y.end()), true);
        g->setPen(QPen(c.colour, 1));
        g->setAdaptiveSampling(adaptive);
    }
    plot->xAxis->setLabel("sample");
    plot->rescaleAxes();
    return plot;
}

int main(int argc, char **argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    QStringList which = QString(argc > 1 ? argv[1] : "all").split(',');  // one variant, a comma list, or all
    int redraws = argc > 2 ? atoi(argv[2]) : 50;
    QString pngDir = argc > 3 ? argv[3] : QString();
    auto cs = makeData();
    Ranges r{0, POINTS - 1, 1e300, -1e300};
    for (auto &c : cs) for (double y : c.y) { r.ylo = std::min(r.ylo, y); r.yhi = std::max(r.yhi, y); }
    const QStringList all = {"qcp-replot", "qcp-topixmap", "qcp-replot-noas", "qp-frame", "qp-raw", "qp-minmax"};
    if (which == QStringList{"all"}) which = all;
    for (const QString &v : which) {
        if (!all.contains(v)) { fprintf(stderr, "unknown variant %s\n", qPrintable(v)); return 2; }
        std::vector<double> ms;
        QPixmap out;
        if (v.startsWith("qcp")) {
            QCustomPlot *plot = makeQcp(cs, v != "qcp-replot-noas");
            bool toPixmap = v == "qcp-topixmap";
            for (int i = 0; i < 5 + redraws; i++) {
                QElapsedTimer t; t.start();
                if (toPixmap) out = plot->toPixmap(W, H);
                else plot->replot(QCustomPlot::rpQueuedRefresh);
                double dt = t.nsecsElapsed() / 1e6;
                if (i >= 5) ms.push_back(dt);
                QCoreApplication::processEvents();
            }
            if (!pngDir.isEmpty()) (toPixmap ? out : plot->grab()).save(pngDir + "/" + v + ".png");  // grab(): the widget painted from its paint buffers
            delete plot;
        } else {
            int mode = v == "qp-frame" ? 0 : v == "qp-raw" ? 1 : 2;
            QPixmap img(W, H);
            std::vector<QPointF> pts; pts.reserve(POINTS + 2);
            for (int i = 0; i < 5 + redraws; i++) {
                QElapsedTimer t; t.start();
                renderPlain(img, cs, r, mode, pts);
                double dt = t.nsecsElapsed() / 1e6;
                if (i >= 5) ms.push_back(dt);
            }
            if (!pngDir.isEmpty()) img.save(pngDir + "/" + v + ".png");
        }
        printf("SUMMARY plot variant=%s redraws=%d median=%.2f min=%.2f max=%.2f ms\n", qPrintable(v), redraws, median(ms),
               *std::min_element(ms.begin(), ms.end()), *std::max_element(ms.begin(), ms.end()));
        fflush(stdout);
    }
    return 0;
}
