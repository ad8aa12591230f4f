#include "ui/controls/CanvasGeometry.h"

#include "ui/controls/ControlCard.h"

#include <QJsonValue>
#include <QLocale>

#include <algorithm>
#include <cmath>

namespace vn {

namespace {

int nearest(double value)
{
    return int(std::round(value));
}

} // namespace

int arrangeMode(int choice, int panelWidth)
{
    if (choice == 0)
        return 0;
    if (choice == 2)
        return panelWidth >= 700 ? 2 : 1;
    return 1;
}

FreeGrid freeGrid(int viewportWidth, bool geometryRemembered, int referenceWidth)
{
    FreeGrid grid;
    grid.width = std::max(kNarrowestCanvas, viewportWidth - kCardGap);
    grid.scale = geometryRemembered && referenceWidth > 0 ? double(grid.width) / referenceWidth : 1.0;
    grid.columns = grid.width > 699 ? 2 : 1;
    grid.columnWidth = grid.columns == 2 ? (grid.width - kCardGap) / 2 : grid.width;
    return grid;
}

QRect freeCardRect(int index, const QJsonObject& record, const FreeGrid& grid, const QSize& minimum)
{
    const int column = index % grid.columns;
    const int row = index / grid.columns;
    int left = column * (grid.columnWidth + kCardGap);
    int top = row * kCardRowPitch;
    int width = grid.columnWidth;
    int height = kDefaultCardHeight;

    const QJsonObject rect = record.value(QStringLiteral("rect")).toObject();
    if (!rect.isEmpty()) {
        const int limit = ControlCard::kCanvasLimit;
        height = std::clamp(rect.value(QStringLiteral("height")).toInt(kDefaultCardHeight),
                            ControlCard::kMinimumHeight, ControlCard::kMaximumSize);
        // Limited before rounding: a stored 1e300 has no int to round to.
        width = nearest(std::clamp(rect.value(QStringLiteral("width")).toDouble(380) * grid.scale,
                                   double(ControlCard::kMinimumWidth), double(ControlCard::kMaximumSize)));
        left = nearest(std::clamp(rect.value(QStringLiteral("x")).toDouble(0) * grid.scale, 0.0, double(limit)));
        top = std::clamp(rect.value(QStringLiteral("y")).toInt(0), 0, limit);
    }
    width = std::max(width, minimum.width());
    height = std::max(height, minimum.height());
    left = std::min(left, ControlCard::kCanvasLimit - width);
    top = std::min(top, ControlCard::kCanvasLimit - height);
    return QRect(left, top, width, height);
}

NumberRange numberRange(const QJsonObject& record)
{
    NumberRange range;
    range.decimals = std::clamp(record.value(QStringLiteral("decimals")).toInt(0), 0, 6);
    range.minimum = std::clamp(record.value(QStringLiteral("minimum")).toDouble(0), -1e9, 1e9);
    range.maximum = std::max(std::min(record.value(QStringLiteral("maximum")).toDouble(100), 1e9), range.minimum);
    range.step = std::max(record.value(QStringLiteral("step")).toDouble(1), std::pow(10.0, -range.decimals));
    return range;
}

int sliderSteps(const NumberRange& range)
{
    const double steps = std::ceil((range.maximum - range.minimum) / range.step);
    return int(std::min(1000000.0, std::max(1.0, steps)));
}

int sliderPosition(double value, const NumberRange& range)
{
    if (!(range.minimum < range.maximum))
        return 0;
    const int n = sliderSteps(range);
    return std::clamp(nearest((value - range.minimum) / (range.maximum - range.minimum) * n), 0, n);
}

double sliderValue(int position, const NumberRange& range)
{
    const int n = sliderSteps(range);
    if (position >= n)
        return range.maximum;
    const double x = range.minimum + (range.maximum - range.minimum) * position / n;
    const double snapped = range.minimum + range.step * std::round((x - range.minimum) / range.step);
    return std::clamp(snapped, range.minimum, range.maximum);
}

QString fixedText(double value, int decimals)
{
    return QLocale::c().toString(value, 'f', decimals);
}

} // namespace vn
