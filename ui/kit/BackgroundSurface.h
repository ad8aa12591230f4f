#pragma once

#include "ui/kit/BackgroundImage.h"

#include <QColor>
#include <QWidget>

namespace vn {

// Paints a background picture behind its children: over its own rectangle, or
// in caption mode laid out over the whole window so that neighbouring caption
// surfaces continue the same picture without a seam.
class BackgroundSurface : public QWidget {
    Q_OBJECT
public:
    explicit BackgroundSurface(QWidget* parent = nullptr);

    // Owners write these, hand over the picture with background.set(), then
    // call update().
    BackgroundImage background;
    QColor baseColor;
    bool transparent = false;
    bool caption = false;

protected:
    void paintEvent(QPaintEvent* event) override;
};

} // namespace vn
