#pragma once

#include "ui/plot/WaveCurveStyle.h"

#include <QDoubleSpinBox>
#include <QWidget>

#include <functional>

class QCheckBox;
class QLineEdit;
class QPushButton;

namespace vn {

class Combo;

// Edits one curve style: automatic or chosen colour, width and line style.
class StyleEditor : public QWidget {
public:
    explicit StyleEditor(const QColor& initial, QWidget* parent = nullptr);

    // Loads a style without running `changed`; an automatic style keeps the
    // colour offered for a manual choice.
    void setValue(const WaveCurveStyle& style);
    WaveCurveStyle value() const;

    QCheckBox* automaticBox = nullptr;
    QPushButton* colorButton = nullptr;
    QDoubleSpinBox* widthBox = nullptr;
    Combo* lineBox = nullptr;
    QColor color;
    bool updating = false;
    std::function<void()> changed;   // run on every change the user makes

private:
    void notify();
    void showColor();
    void chooseColor();
};

// The sample interval field: numbers as 10 significant digits, so 0.001
// reads 0.001 and 1 reads 1.
class SampleIntervalBox : public QDoubleSpinBox {
public:
    using QDoubleSpinBox::QDoubleSpinBox;
    QString textFromValue(double value) const override;
};

// A unit field with a menu of common units and quick buttons below it.
// Returns the holder (without parent) and hands the field back through `field`.
QWidget* unitEditor(QLineEdit*& field, const QString& objectName);

} // namespace vn
