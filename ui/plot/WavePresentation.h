#pragma once

#include "ui/plot/WaveCurveStyle.h"

#include <QJsonObject>
#include <QList>
#include <QMap>
#include <QSet>
#include <QString>
#include <QStringList>

namespace vn {

// How a plot presents its curves, apart from the samples: styles, hidden
// curves, the readout choice, axis titles and units, and the sample interval.
// A plain value; the host page stores its JSON under "wave_presentation".
struct WavePresentation {
    static constexpr int MaxReadouts = 4;

    WaveCurveStyle defaultStyle;
    QMap<QString, WaveCurveStyle> curveStyles;   // a key may name a curve not seen yet
    QSet<QString> hiddenCurves;
    QList<QString> readouts;                     // at most four, no empty or repeated entry
    bool readoutsChosen = false;                 // false: readouts follow the curves
    QString xTitle = QStringLiteral("采样序号");
    QString yTitle;
    QString xUnit;
    QString yUnit;
    double xIncrement = 1.0;                     // x value of a sample = index × xIncrement

    // The curve's own style, else the default one.
    WaveCurveStyle curveStyle(const QString& key) const;

    // "title (unit)", the title alone, or the unit alone.
    QString xAxisLabel() const;
    QString yAxisLabel() const;

    // The chosen readouts, or the first four curve keys in natural order.
    QStringList readoutChannels(const QStringList& curveKeys) const;
    // Keeps the first four distinct non-empty names and marks the list chosen.
    void setReadoutChannels(const QStringList& names);

    QJsonObject json() const;
    // Every key is read on its own; a bad value takes its default.
    static WavePresentation fromJson(const QJsonObject& object);
};

// Drops control characters, trims, and keeps at most n UTF-16 units, never
// half a surrogate pair nor blanks at the end.
QString shortText(const QString& text, int n);

} // namespace vn
