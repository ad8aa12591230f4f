#pragma once

#include "ui/kit/Theme.h"
#include "ui/plot/WaveCurveStore.h"
#include "ui/plot/WavePresentation.h"
#include "ui/plot/WaveRanges.h"
#include "ui/plot/WaveRenderer.h"

#include <QByteArray>
#include <QColor>
#include <QFont>
#include <QImage>
#include <QJsonObject>
#include <QList>
#include <QPointF>
#include <QRectF>
#include <QWidget>

#include <memory>

class QAction;

namespace vn {

class Channel;
class WaveLegend;

// The waveform plot of one channel's "@wave" samples: one curve per field and
// peer, decimated per pixel column, with zoom, pan, hover readout, a legend
// row of live readouts, per-curve styles and a JSON presentation.
//
// A host page drives it: on each of its ticks it calls updateChannel (unless
// paused), clearSamples when the user clears, setSamples({}) when it switches
// channel, copies its Theme into `theme` when the appearance changes, stores
// presentationSettings() whenever presentationChanged is emitted, and hands
// it back with restorePresentation. The plot itself never pulls on its own.
class WavePlot : public QWidget {
    Q_OBJECT
public:
    explicit WavePlot(QWidget* parent = nullptr);
    ~WavePlot() override;

    Theme theme;   // the host overwrites it, then repaints

    // Sample intake.
    bool updateChannel(Channel* channel, int n);   // true when the curves changed
    void setSamples(const QJsonObject& samples);
    void clearSamples(Channel* channel, int n);
    bool sampleIsCurrent(const QString& source, qint64 index) const;
    const QMap<QString, WavePoints>& curves() const { return store.curves; }
    Channel* channel() const;
    int sampleLimit() const { return store.sampleLimit; }
    quint64 dataRevision() const { return revision; }

    bool isCurveVisible(const QString& key) const;
    void setCurveVisible(const QString& key, bool visible);
    QColor curveColor(const QString& key) const;

    // Ranges and view.
    WaveRange sampleBounds() const;
    WaveRange horizontalRange() const;
    WaveRange verticalRange() const;
    WaveRange valueRange() const;
    bool followsLatest() const { return followLatest; }
    bool xAxisShown() const { return xAxisVisible; }
    bool yAxisShown() const { return yAxisVisible; }
    void setFollowLatest(bool on);
    void resetView();
    void setXAxisVisible(bool visible);
    void setYAxisVisible(bool visible);
    void invalidatePlot();
    QRectF plotArea() const;
    // The nearest visible raw sample to a widget point: {"channel", "sample", "value"}, or {}.
    QJsonObject inspect(const QPointF& point) const;
    // The lines of the hover box for what inspect found: label, value, sample
    // number and, with a scaled or unit-bearing x axis, the x value.
    QStringList readoutLines(const QJsonObject& hit) const;
    // Where the hover box with these lines goes for the pointer at `at`.
    QRectF readoutBox(const QPointF& at, const QStringList& lines) const;

    // Presentation.
    const WavePresentation& presentation() const { return present; }
    WaveCurveStyle curveStyle(const QString& key) const { return present.curveStyle(key); }
    void setCurveStyle(const QString& key, const WaveCurveStyle& style);
    void resetCurveStyle(const QString& key);
    QString curveLabel(const QString& key) const;
    QString xAxisLabel() const { return present.xAxisLabel(); }
    QString yAxisLabel() const { return present.yAxisLabel(); }
    QStringList readoutChannels() const;
    void setReadoutChannels(const QStringList& names);
    void useAutomaticReadouts();
    QJsonObject presentationSettings() const { return present.json(); }
    void restorePresentation(const QJsonObject& settings);

    // Dialogs and menus; each runs modally.
    void openPlotSettings();
    void openCurveSettings(const QString& key);
    void openReadoutChannels();
    void curveMenu(const QString& key, const QPoint& globalPosition);

    void updateLegend();
    void dataChanged();

    // The rendered image, rebuilt if stale; what the next paint blits.
    const QImage& renderedImage();
    // Redraws the cached image whole, as a paint would when it is stale.
    void rebuildImage();

    QByteArray curveSettingsGeometry;
    QByteArray plotSettingsGeometry;
    int plotSettingsTab = 0;

Q_SIGNALS:
    void followLatestChanged(bool on);
    void presentationChanged();

protected:
    void mousePressEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void wheelEvent(QWheelEvent* event) override;
    void leaveEvent(QEvent* event) override;
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void contextMenuEvent(QContextMenuEvent* event) override;

private:
    void resetAfterReplace();
    void copyReadout();
    void copyLatestValues();
    bool imageIsCurrent() const;
    QList<QColor> themeColours() const;
    void drawInspection(QPainter& painter);

    WaveCurveStore store;
    WavePresentation present;
    std::unique_ptr<WaveLegend> legend;
    WaveRenderer renderer;
    QAction* copyAction = nullptr;
    quint64 revision = 0;

    mutable bool valueRangeDirty = true;
    mutable WaveRange cachedValueRange{0, 0};
    QImage image;
    bool imageDirty = true;
    QFont renderedFont;
    QList<QColor> renderedColours;
    bool xAxisVisible = true;
    bool yAxisVisible = true;
    bool followLatest = true;
    double followWidth = 0;
    bool yManual = false;
    WaveRange xView{0, 0};
    WaveRange yView{0, 0};
    QPointF dragStart;
    QRectF dragArea;
    WaveRange dragXRange{0, 0};
    WaveRange dragYRange{0, 0};
    QPointF hoverPos;
    bool hovering = false;
    bool dragging = false;
};

} // namespace vn
