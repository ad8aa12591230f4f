#pragma once

#include <QJsonObject>
#include <QRect>
#include <QSize>

namespace vn {

// The arithmetic of the canvas layouts and of the slider/spin box pair, kept
// free of widgets so it can be checked on its own.

constexpr int kCardGap = 8;
constexpr int kDefaultCardHeight = 140;
constexpr int kCardRowPitch = 148;
constexpr int kNarrowestCanvas = 340;

// The layout actually applied for a layout choice (0 free, 1 or 2 columns) at
// a panel width: two columns fall back to one below 700 px.
int arrangeMode(int choice, int panelWidth);

// The free layout's default grid and scale for a viewport width.
struct FreeGrid {
    int width = kNarrowestCanvas;   // usable canvas width
    int columns = 1;
    int columnWidth = kNarrowestCanvas;
    double scale = 1.0;            // stored rectangles' horizontal scale
};
FreeGrid freeGrid(int viewportWidth, bool geometryRemembered, int referenceWidth);

// Where card `index` goes in the free layout: its stored "rect", scaled and
// limited, or its cell in the default grid; never smaller than `minimum` and
// never past the canvas square.
QRect freeCardRect(int index, const QJsonObject& record, const FreeGrid& grid, const QSize& minimum);

// The numbers a slider or number card works with, read and limited from its record.
struct NumberRange {
    int decimals = 0;
    double minimum = 0;
    double maximum = 100;
    double step = 1;
};
NumberRange numberRange(const QJsonObject& record);

// The slider has positions 0..N, one per step, at most a million.
int sliderSteps(const NumberRange& range);
int sliderPosition(double value, const NumberRange& range);
double sliderValue(int position, const NumberRange& range);

// A value in the neutral format with the record's number of decimals.
QString fixedText(double value, int decimals);

} // namespace vn
