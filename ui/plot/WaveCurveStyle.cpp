#include "ui/plot/WaveCurveStyle.h"

#include <cmath>

namespace vn {

WaveCurveStyle normalizedStyle(WaveCurveStyle style)
{
    if (!std::isfinite(style.width))
        style.width = 1.0;
    else if (style.width > 8.0)
        style.width = 8.0;
    else if (style.width < 0.5)
        style.width = 0.5;
    if (style.line < 1 || style.line > 4)
        style.line = 1;
    return style;
}

QJsonObject styleJson(const WaveCurveStyle& style)
{
    return QJsonObject{{QStringLiteral("color"), style.color.isValid() ? style.color.name() : QString()},
                       {QStringLiteral("width"), style.width},
                       {QStringLiteral("line"), style.line}};
}

WaveCurveStyle readStyle(const QJsonObject& object)
{
    WaveCurveStyle style;
    const QJsonValue color = object.value(QLatin1String("color"));
    if (color.isString() && !color.toString().isEmpty())
        style.color = QColor::fromString(color.toString());   // invalid when Qt rejects it
    const QJsonValue width = object.value(QLatin1String("width"));
    if (width.isDouble())
        style.width = width.toDouble();
    const QJsonValue line = object.value(QLatin1String("line"));
    if (line.isDouble()) {
        const double value = line.toDouble();
        style.line = value >= 1 && value <= 4 ? int(value) : 1;
    }
    return normalizedStyle(style);
}

} // namespace vn
