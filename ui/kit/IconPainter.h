#pragma once

#include <QColor>
#include <QIcon>
#include <QRectF>
#include <QString>

class QPainter;

namespace vn {

// Draws the named figure on a 24-unit grid scaled to fit the rectangle, centred,
// in one colour, rotated by `angle` degrees about the centre. Unknown names draw
// a page. The painter's state is restored afterwards.
void drawIcon(QPainter& painter, const QString& name, QRectF rect, const QColor& colour, double angle);

// The named figure as an icon: a transparent 2·size square pixmap at device
// pixel ratio 2.
QIcon icon(const QString& name, const QColor& colour, int size);

} // namespace vn
