#pragma once

#include "ui/kit/Theme.h"

#include <QList>
#include <QPointer>
#include <QVariantAnimation>
#include <QWidget>

class QAbstractButton;
class QCheckBox;

namespace vn {

class ButtonHalo;

// Hands the palette to the motion painters and, on the first call, installs the
// application filter that gives every push button, tool button and IconButton
// eased hover, press and checked states, every check box an animated mark and
// every menu and combo list a rounded, fading pop-up. Existing overlays repaint
// in the new colours.
void installButtonMotion(const Theme& theme);

// The palette the motion currently paints with.
const Theme& buttonMotionTheme();

// Makes a pop-up frameless and rounded (radius 10) with a matching mask. Safe to
// call repeatedly: flags and style are set once, the mask only when it changed.
void roundPopupWindow(QWidget* popup);

// The transparent overlay that draws a button's eased hover, press and checked
// levels, and keeps the button's keyboard-focus ring in place.
class ButtonMotion : public QWidget {
    Q_OBJECT
public:
    explicit ButtonMotion(QAbstractButton* button);
    ~ButtonMotion() override;

    void trackParents();
    void syncHalo();
    void animate(QVariantAnimation& animation, double from, double to, int milliseconds);
    bool running() const;
    void reset();

    QAbstractButton* button;
    QPointer<ButtonHalo> halo;
    QList<QPointer<QObject>> parents;
    QVariantAnimation hoverAnimation;
    QVariantAnimation pressAnimation;
    QVariantAnimation checkedAnimation;
    double hover = 0.0;
    double press = 0.0;
    double checked = 0.0;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
    void paintEvent(QPaintEvent* event) override;

private:
    void bind(QVariantAnimation& animation, double& level);
};

// The keyboard-focus ring of one button, a child of the button's window so that
// it may overhang the button's own clipping.
class ButtonHalo : public QWidget {
public:
    ButtonHalo(QAbstractButton* button, ButtonMotion* motion, QWidget* window);

    QPointer<QAbstractButton> button;
    ButtonMotion* motion;

protected:
    void paintEvent(QPaintEvent* event) override;
};

// The overlay that paints a check box's indicator with an eased fill and a tick
// drawn progressively (a centred bar when partially checked).
class CheckBoxMotion : public QWidget {
    Q_OBJECT
public:
    explicit CheckBoxMotion(QCheckBox* box);

    void settle();

    QCheckBox* box;
    QVariantAnimation animation;
    double progress = 0.0;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
    void paintEvent(QPaintEvent* event) override;
};

} // namespace vn
