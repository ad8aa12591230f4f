#pragma once

#include <QJsonObject>
#include <QTreeWidget>

namespace vn {

class WavePlot;

// The live values table beside a waveform plot ("waveValues"): one row per
// "@wave" variable with its newest value, sources in key order and within a
// source its variables in name order. Rows are rewritten in place, only where
// a text changed, so selection and scroll position survive refreshes.
class ValuesTable : public QTreeWidget {
    Q_OBJECT
public:
    explicit ValuesTable(QWidget* parent = nullptr);

    // Writes the rows for a "sources" object of Channel::waveform(1). A
    // source whose newest sample is not newer than the plot's clear mark
    // contributes no rows; labels come from the plot's curve labels.
    void fill(const QJsonObject& sources, const WavePlot& plot);

    // The shortest text that reads back to the same double, C locale.
    static QString valueText(double value);
};

} // namespace vn
