#pragma once

#include "ui/kit/Theme.h"

#include <QAbstractButton>
#include <QVariantAnimation>

namespace vn {

// A 36 × 36 icon-only button drawn with the vector icon painter. Its text is the
// tool tip and accessible name. The colour eases towards the accent on hover,
// and the "gear" turns once on hover and on turnGear().
class IconButton : public QAbstractButton {
    Q_OBJECT
public:
    IconButton(const QString& iconName, const QString& text, QWidget* parent = nullptr);

    QString iconName() const { return m_iconName; }
    void setIconName(const QString& name);

    void turnGear();

    QSize sizeHint() const override;

    // The owner overwrites this when the theme changes, then calls update().
    Theme theme;

    double hoverProgress() const { return m_hover; }
    double spinAngle() const { return m_angle; }
    // The two motions, for owners and tests that wait on them.
    QVariantAnimation* hoverAnimation() { return &m_hoverAnimation; }
    QVariantAnimation* spinAnimation() { return &m_spin; }

protected:
    void enterEvent(QEnterEvent* event) override;
    void leaveEvent(QEvent* event) override;
    void paintEvent(QPaintEvent* event) override;

private:
    void hoverTo(double target);
    void spinGear();

    QString m_iconName;
    double m_hover = 0.0;
    QVariantAnimation m_hoverAnimation;
    double m_angle = 0.0;
    QVariantAnimation m_spin;
    bool m_pendingTurn = false;
};

} // namespace vn
