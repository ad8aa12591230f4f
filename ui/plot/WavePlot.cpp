#include "ui/plot/WavePlot.h"

#include "core/Channel.h"
#include "ui/plot/WaveHoverReadout.h"
#include "ui/plot/WaveLegend.h"
#include "ui/plot/WaveSettingsDialogs.h"

#include <QAction>
#include <QApplication>
#include <QClipboard>
#include <QContextMenuEvent>
#include <QJsonDocument>
#include <QMenu>
#include <QMouseEvent>
#include <QPainter>
#include <QWheelEvent>

#include <algorithm>
#include <cmath>

namespace vn {

namespace {

double clamped01(double v)
{
    return std::clamp(v, 0.0, 1.0);
}

} // namespace

WavePlot::WavePlot(QWidget* parent)
    : QWidget(parent)
{
    setMinimumSize(200, 180);
    setMouseTracking(true);
    setFocusPolicy(Qt::StrongFocus);
    setToolTip(QStringLiteral("移动鼠标查看原始采样值；点击通道显示或隐藏，右键设置样式；"
                              "滚轮缩放双轴；Shift 仅横轴，Ctrl 仅纵轴；左键自由平移；双击恢复跟随"));
    legend = std::make_unique<WaveLegend>(this);
    copyAction = new QAction(QStringLiteral("复制当前读数"), this);
    copyAction->setObjectName(QStringLiteral("copyWaveReadout"));
    copyAction->setShortcut(QKeySequence::Copy);
    copyAction->setShortcutContext(Qt::WidgetWithChildrenShortcut);
    copyAction->setEnabled(false);   // enabled while the mouse is over the plot area
    connect(copyAction, &QAction::triggered, this, &WavePlot::copyReadout);
    addAction(copyAction);
}

WavePlot::~WavePlot() = default;

// ---- intake ---------------------------------------------------------------

bool WavePlot::updateChannel(Channel* target, int n)
{
    const WaveCurveStore::Intake intake = store.updateChannel(target, n);
    if (intake.viewReset)
        resetView();
    if (intake.changed)
        dataChanged();
    return intake.changed;
}

void WavePlot::setSamples(const QJsonObject& samples)
{
    store.setSamples(samples);
    resetView();
    dataChanged();
}

void WavePlot::clearSamples(Channel* target, int n)
{
    store.clearSamples(target, n);
    resetView();
    dataChanged();
}

Channel* WavePlot::channel() const
{
    return store.channel.data();
}

bool WavePlot::sampleIsCurrent(const QString& source, qint64 index) const
{
    return store.sampleIsCurrent(source, index);
}

void WavePlot::dataChanged()
{
    ++revision;
    valueRangeDirty = true;
    store.noteOrdinals();
    updateLegend();
    imageDirty = true;
    update();
}

bool WavePlot::isCurveVisible(const QString& key) const
{
    return !present.hiddenCurves.contains(key);
}

void WavePlot::setCurveVisible(const QString& key, bool visible)
{
    if (visible)
        present.hiddenCurves.remove(key);
    else
        present.hiddenCurves.insert(key);
    valueRangeDirty = true;
    yManual = false;
    hovering = false;
    updateLegend();
    imageDirty = true;
    update();
    Q_EMIT presentationChanged();
}

QColor WavePlot::curveColor(const QString& key) const
{
    const QColor own = curveStyle(key).color;
    if (own.isValid())
        return own;
    const QColor palette[6] = {theme.accent, theme.green, QColor(0x6c, 0x92, 0xa0),
                               QColor(0xb0, 0x83, 0x9a), theme.red, QColor(0x9e, 0x9a, 0x52)};
    return palette[store.curveOrder.value(key, 0) % 6];
}

// ---- ranges and view ------------------------------------------------------

WaveRange WavePlot::sampleBounds() const
{
    return vn::sampleBounds(store.curves);
}

WaveRange WavePlot::horizontalRange() const
{
    if (!followLatest)
        return xView;
    const WaveRange bounds = sampleBounds();
    if (followWidth > 0)
        return {bounds.second - followWidth, bounds.second};
    return bounds;
}

WaveRange WavePlot::verticalRange() const
{
    return yManual ? yView : valueRange();
}

WaveRange WavePlot::valueRange() const
{
    if (valueRangeDirty) {
        cachedValueRange = vn::valueRange(store.curves, present.hiddenCurves);
        valueRangeDirty = false;
    }
    return cachedValueRange;
}

void WavePlot::setFollowLatest(bool on)
{
    if (on == followLatest)
        return;
    if (on) {
        followWidth = xView.second - xView.first;
        yView = verticalRange();
        yManual = true;
    } else {
        xView = horizontalRange();
    }
    followLatest = on;
    Q_EMIT followLatestChanged(on);
    imageDirty = true;
    update();
}

void WavePlot::resetView()
{
    hovering = false;
    dragging = false;
    yManual = false;
    followWidth = 0;
    unsetCursor();
    if (!followLatest) {
        followLatest = true;
        Q_EMIT followLatestChanged(true);
    }
    imageDirty = true;
    update();
}

void WavePlot::setXAxisVisible(bool visible)
{
    if (visible == xAxisVisible)
        return;
    xAxisVisible = visible;
    dragging = false;
    imageDirty = true;
    update();
}

void WavePlot::setYAxisVisible(bool visible)
{
    if (visible == yAxisVisible)
        return;
    yAxisVisible = visible;
    dragging = false;
    imageDirty = true;
    update();
}

void WavePlot::invalidatePlot()
{
    imageDirty = true;
    update();
}

QRectF WavePlot::plotArea() const
{
    if (dragging)
        return dragArea;
    return wavePlotArea(size(), font(), verticalRange(), xAxisVisible, yAxisVisible, !yAxisLabel().isEmpty());
}

QJsonObject WavePlot::inspect(const QPointF& point) const
{
    return WaveHoverReadout(*this).inspect(point);
}

// ---- interaction ----------------------------------------------------------

void WavePlot::wheelEvent(QWheelEvent* event)
{
    const QRectF area = plotArea();
    const QPointF p = event->position();
    bool mayX = false;
    bool mayY = false;
    if (p.y() >= area.bottom() && p.x() >= area.left()) {
        mayX = p.x() != area.left();
    } else if (p.x() <= area.left() && p.y() >= area.top()) {
        mayY = true;
    } else if (area.contains(p)) {
        mayX = mayY = true;
    } else {
        event->ignore();
        return;
    }
    const double steps = wheelSteps(*event);
    if (store.curves.isEmpty() || steps == 0) {
        event->ignore();
        return;
    }
    const double factor = std::pow(1.15, steps);
    if (event->modifiers() & Qt::ShiftModifier)
        mayY = false;
    if (event->modifiers() & Qt::ControlModifier)
        mayX = false;
    const WaveRange xOld = horizontalRange();
    const double ax = clamped01((p.x() - area.left()) / area.width());
    if (mayY) {
        const double ay = clamped01((area.bottom() - p.y()) / area.height());
        yView = scaledRange(verticalRange(), ay, factor, false);
        yManual = true;
    }
    if (mayX) {
        setFollowLatest(false);
        xView = scaledRange(xOld, ax, factor, true);
        // The y labels may have changed the area's left edge: keep the sample
        // under the pointer where it is.
        const QRectF laidOut = plotArea();
        const double r = clamped01((p.x() - laidOut.left()) / laidOut.width());
        const double anchor = xOld.first + (xOld.second - xOld.first) * ax;
        const double w = xView.second - xView.first;
        xView = {anchor - w * r, anchor + w * (1 - r)};
    }
    imageDirty = true;
    update();
    event->accept();
}

void WavePlot::mousePressEvent(QMouseEvent* event)
{
    const QRectF area = plotArea();
    if (event->button() == Qt::LeftButton && area.contains(event->position()) && !store.curves.isEmpty()) {
        dragArea = area;
        dragStart = event->position();
        dragXRange = horizontalRange();
        dragYRange = verticalRange();
        dragging = true;
        setFollowLatest(false);
        setCursor(Qt::ClosedHandCursor);
        event->accept();
        return;
    }
    QWidget::mousePressEvent(event);
}

void WavePlot::mouseMoveEvent(QMouseEvent* event)
{
    const QPointF p = event->position();
    hoverPos = p;
    hovering = plotArea().contains(p);
    copyAction->setEnabled(hovering);
    if (dragging && (event->buttons() & Qt::LeftButton)) {
        xView = translatedRange(dragXRange, -(p.x() - dragStart.x()) / dragArea.width());
        yView = translatedRange(dragYRange, (p.y() - dragStart.y()) / dragArea.height());
        yManual = true;
        imageDirty = true;
    } else {
        setCursor(hovering ? Qt::CrossCursor : Qt::ArrowCursor);
    }
    update();
    event->accept();
}

void WavePlot::mouseReleaseEvent(QMouseEvent* event)
{
    if (event->button() == Qt::LeftButton && dragging) {
        dragging = false;
        unsetCursor();
        imageDirty = true;
        update();
        event->accept();
        return;
    }
    QWidget::mouseReleaseEvent(event);
}

void WavePlot::mouseDoubleClickEvent(QMouseEvent* event)
{
    if (event->button() == Qt::LeftButton) {
        resetView();
        event->accept();
        return;
    }
    QWidget::mouseDoubleClickEvent(event);
}

void WavePlot::leaveEvent(QEvent* event)
{
    hovering = false;
    if (!dragging)
        unsetCursor();
    update();
    QWidget::leaveEvent(event);
}

void WavePlot::resizeEvent(QResizeEvent* event)
{
    updateLegend();
    imageDirty = true;
    update();
    QWidget::resizeEvent(event);
}

void WavePlot::contextMenuEvent(QContextMenuEvent* event)
{
    QMenu menu(this);
    QAction* settings = menu.addAction(QStringLiteral("波形设置…"));
    connect(settings, &QAction::triggered, this, &WavePlot::openPlotSettings);
    const QJsonObject hit = inspect(event->pos());
    if (!hit.isEmpty()) {
        const QString key = hit.value(QLatin1String("channel")).toString();
        QAction* curve = menu.addAction(QStringLiteral("曲线设置 · ") + curveLabel(key) + QStringLiteral("…"));
        connect(curve, &QAction::triggered, this, [this, key] { openCurveSettings(key); });
    }
    menu.addSeparator();
    copyAction->setEnabled(hovering && !inspect(hoverPos).isEmpty());
    menu.addAction(copyAction);
    QAction* latest = menu.addAction(QStringLiteral("复制最新通道值"));
    connect(latest, &QAction::triggered, this, &WavePlot::copyLatestValues);
    menu.exec(event->globalPos());
    copyAction->setEnabled(hovering);
}

void WavePlot::copyReadout()
{
    if (!hovering)
        return;
    const QJsonObject hit = inspect(hoverPos);
    if (hit.isEmpty())
        return;
    // QJsonObject keeps its keys sorted, which is the order channel, sample, value.
    QApplication::clipboard()->setText(QString::fromUtf8(QJsonDocument(hit).toJson(QJsonDocument::Compact)));
}

void WavePlot::copyLatestValues()
{
    QJsonObject latest;
    for (auto it = store.curves.cbegin(); it != store.curves.cend(); ++it) {
        if (!it.value().isEmpty())
            latest.insert(it.key(), it.value().constLast().y());
    }
    QApplication::clipboard()->setText(QString::fromUtf8(QJsonDocument(latest).toJson(QJsonDocument::Compact)));
}

// ---- presentation ---------------------------------------------------------

void WavePlot::setCurveStyle(const QString& key, const WaveCurveStyle& style)
{
    present.curveStyles.insert(key, normalizedStyle(style));
    updateLegend();
    invalidatePlot();
    Q_EMIT presentationChanged();
}

void WavePlot::resetCurveStyle(const QString& key)
{
    present.curveStyles.remove(key);
    updateLegend();
    invalidatePlot();
    Q_EMIT presentationChanged();
}

QString WavePlot::curveLabel(const QString& key) const
{
    const Channel* bound = store.channel.data();
    if (!bound || !bound->config.isWaveformDemo())
        return key;
    if (key == QLatin1String("sine"))
        return QStringLiteral("正弦波");
    if (key == QLatin1String("square"))
        return QStringLiteral("方波");
    if (key == QLatin1String("triangle"))
        return QStringLiteral("三角波");
    if (key == QLatin1String("sawtooth"))
        return QStringLiteral("锯齿波");
    return key;
}

QStringList WavePlot::readoutChannels() const
{
    return present.readoutChannels(store.curves.keys());
}

void WavePlot::setReadoutChannels(const QStringList& names)
{
    present.setReadoutChannels(names);
    updateLegend();
    Q_EMIT presentationChanged();
}

void WavePlot::useAutomaticReadouts()
{
    present.readoutsChosen = false;
    present.readouts.clear();
    updateLegend();
    Q_EMIT presentationChanged();
}

void WavePlot::restorePresentation(const QJsonObject& settings)
{
    present = WavePresentation::fromJson(settings);
    valueRangeDirty = true;
    dragging = false;
    updateLegend();
    invalidatePlot();
}

// ---- dialogs --------------------------------------------------------------

void WavePlot::openPlotSettings()
{
    runPlotSettingsDialog(*this);
}

void WavePlot::openCurveSettings(const QString& key)
{
    runCurveSettingsDialog(*this, key);
}

void WavePlot::openReadoutChannels()
{
    runReadoutChannelsDialog(*this);
}

void WavePlot::curveMenu(const QString& key, const QPoint& globalPosition)
{
    runCurveMenu(*this, key, globalPosition);
}

void WavePlot::updateLegend()
{
    legend->update();
}

// ---- painting -------------------------------------------------------------

QList<QColor> WavePlot::themeColours() const
{
    return {theme.panel, theme.line, theme.text, theme.accent, theme.green, theme.red, theme.muted};
}

bool WavePlot::imageIsCurrent() const
{
    const qreal ratio = devicePixelRatioF();
    return !imageDirty && image.width() == int(std::ceil(width() * ratio))
           && image.height() == int(std::ceil(height() * ratio)) && image.devicePixelRatio() == ratio;
}

void WavePlot::rebuildImage()
{
    WaveScene scene;
    scene.size = size();
    scene.ratio = devicePixelRatioF();
    scene.font = font();
    scene.theme = theme;
    scene.area = plotArea();
    scene.x = horizontalRange();
    scene.y = verticalRange();
    scene.xIncrement = present.xIncrement;
    scene.xAxisVisible = xAxisVisible;
    scene.yAxisVisible = yAxisVisible;
    scene.xLabel = xAxisLabel();
    scene.yLabel = yAxisLabel();
    scene.empty = store.curves.isEmpty();
    scene.curves.reserve(std::size_t(store.curves.size()));
    for (auto it = store.curves.cbegin(); it != store.curves.cend(); ++it) {
        if (isCurveVisible(it.key()) && !it.value().isEmpty())
            scene.curves.push_back({&it.value(), curveColor(it.key()), curveStyle(it.key())});
    }
    renderer.render(image, scene);
    imageDirty = false;
    renderedFont = font();
    renderedColours = themeColours();
}

const QImage& WavePlot::renderedImage()
{
    if (renderedColours != themeColours() || renderedFont != font()) {
        updateLegend();
        imageDirty = true;
    }
    if (!imageIsCurrent())
        rebuildImage();
    return image;
}

void WavePlot::paintEvent(QPaintEvent*)
{
    renderedImage();
    QPainter painter(this);
    painter.drawImage(QPointF(0, 0), image);
    drawInspection(painter);
}

QStringList WavePlot::readoutLines(const QJsonObject& hit) const
{
    return WaveHoverReadout(*this).lines(hit);
}

QRectF WavePlot::readoutBox(const QPointF& at, const QStringList& lines) const
{
    return WaveHoverReadout(*this).box(at, lines);
}

void WavePlot::drawInspection(QPainter& painter)
{
    if (hovering && !dragging)
        WaveHoverReadout(*this).draw(painter, hoverPos);
}

} // namespace vn
