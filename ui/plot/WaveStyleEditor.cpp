#include "ui/plot/WaveStyleEditor.h"

#include "ui/kit/Combo.h"

#include <QCheckBox>
#include <QColorDialog>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QLineEdit>
#include <QMenu>
#include <QPainter>
#include <QPixmap>
#include <QPushButton>
#include <QToolButton>
#include <QVBoxLayout>

namespace vn {

StyleEditor::StyleEditor(const QColor& initial, QWidget* parent)
    : QWidget(parent)
    , color(initial)
{
    auto* form = new QFormLayout(this);
    form->setContentsMargins(0, 0, 0, 0);
    form->setVerticalSpacing(12);
    form->setFormAlignment(Qt::AlignTop);
    form->setFieldGrowthPolicy(QFormLayout::AllNonFixedFieldsGrow);
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);

    automaticBox = new QCheckBox(QStringLiteral("自动配色"));
    automaticBox->setObjectName(QStringLiteral("waveAutomaticColor"));
    colorButton = new QPushButton;
    colorButton->setObjectName(QStringLiteral("waveCurveColor"));
    colorButton->setProperty("variant", QStringLiteral("outline"));
    auto* colourRow = new QHBoxLayout;
    colourRow->addWidget(automaticBox, 0);
    colourRow->addWidget(colorButton, 1);
    form->addRow(QStringLiteral("颜色"), colourRow);

    widthBox = new QDoubleSpinBox;
    widthBox->setObjectName(QStringLiteral("waveCurveWidth"));
    widthBox->setRange(0.5, 8);
    widthBox->setSingleStep(0.5);
    widthBox->setDecimals(1);
    widthBox->setSuffix(QStringLiteral(" 像素"));
    form->addRow(QStringLiteral("线宽"), widthBox);

    lineBox = new Combo;
    lineBox->setObjectName(QStringLiteral("waveCurveLine"));
    const QStringList lines{QStringLiteral("实线"), QStringLiteral("虚线"), QStringLiteral("点线"),
                            QStringLiteral("点划线")};
    for (int i = 0; i < lines.size(); ++i)
        lineBox->addItem(lines.at(i), i + 1);
    form->addRow(QStringLiteral("线型"), lineBox);

    connect(automaticBox, &QCheckBox::toggled, this, [this] { notify(); });
    connect(widthBox, &QDoubleSpinBox::valueChanged, this, [this] { notify(); });
    connect(lineBox, &QComboBox::currentIndexChanged, this, [this] { notify(); });
    connect(colorButton, &QPushButton::clicked, this, [this] { chooseColor(); });
    showColor();
}

void StyleEditor::notify()
{
    if (!updating && changed)
        changed();
}

void StyleEditor::showColor()
{
    QPixmap swatch(32, 16);
    swatch.fill(color);
    colorButton->setIcon(QIcon(swatch));
    colorButton->setIconSize(QSize(32, 16));
    colorButton->setText(color.name().toUpper());
}

void StyleEditor::chooseColor()
{
    automaticBox->setChecked(false);
    notify();
    const QColor picked = QColorDialog::getColor(color, this, QStringLiteral("选择曲线颜色"),
                                                 QColorDialog::DontUseNativeDialog);
    if (!picked.isValid())
        return;
    color = picked;
    showColor();
    notify();
}

void StyleEditor::setValue(const WaveCurveStyle& style)
{
    updating = true;
    if (style.color.isValid())
        color = style.color;
    automaticBox->setChecked(!style.color.isValid());
    widthBox->setValue(style.width);
    const int index = lineBox->findData(style.line);
    if (index >= 0)
        lineBox->setCurrentIndex(index);
    showColor();
    updating = false;
}

WaveCurveStyle StyleEditor::value() const
{
    WaveCurveStyle style;
    style.color = automaticBox->isChecked() ? QColor() : color;
    style.width = widthBox->value();
    style.line = lineBox->currentData().toInt();
    return style;
}

QString SampleIntervalBox::textFromValue(double value) const
{
    return locale().toString(value, 'g', 10);
}

QWidget* unitEditor(QLineEdit*& field, const QString& objectName)
{
    auto* holder = new QWidget;
    auto* column = new QVBoxLayout(holder);
    column->setContentsMargins(0, 0, 0, 0);
    column->setSpacing(6);

    auto* top = new QHBoxLayout;
    auto* edit = new QLineEdit;
    edit->setObjectName(objectName);
    edit->setMaxLength(24);
    edit->setPlaceholderText(QStringLiteral("可留空，也可输入自定义单位"));
    top->addWidget(edit, 1);
    auto* common = new QToolButton;
    common->setText(QStringLiteral("常用单位"));
    common->setPopupMode(QToolButton::InstantPopup);
    auto* menu = new QMenu(common);
    const QList<std::pair<QString, QStringList>> groups{
        {QStringLiteral("时间 / 频率"),
         {QStringLiteral("ns"), QStringLiteral("µs"), QStringLiteral("ms"), QStringLiteral("s"),
          QStringLiteral("min"), QStringLiteral("Hz"), QStringLiteral("kHz"), QStringLiteral("MHz")}},
        {QStringLiteral("电学"),
         {QStringLiteral("µV"), QStringLiteral("mV"), QStringLiteral("V"), QStringLiteral("µA"),
          QStringLiteral("mA"), QStringLiteral("A"), QStringLiteral("Ω"), QStringLiteral("kΩ"),
          QStringLiteral("MΩ"), QStringLiteral("pF"), QStringLiteral("nF"), QStringLiteral("µF"),
          QStringLiteral("mH"), QStringLiteral("W")}},
        {QStringLiteral("温度 / 角度"),
         {QStringLiteral("°C"), QStringLiteral("°F"), QStringLiteral("K"), QStringLiteral("°"),
          QStringLiteral("rad"), QStringLiteral("rpm")}},
        {QStringLiteral("其他"),
         {QStringLiteral("%"), QStringLiteral("m"), QStringLiteral("mm"), QStringLiteral("m/s"),
          QStringLiteral("m/s²"), QStringLiteral("g"), QStringLiteral("N"), QStringLiteral("Pa"),
          QStringLiteral("kPa")}}};
    for (const auto& [title, units] : groups) {
        QMenu* sub = menu->addMenu(title);
        for (const QString& unit : units)
            QObject::connect(sub->addAction(unit), &QAction::triggered, edit, [edit, unit] { edit->setText(unit); });
    }
    QObject::connect(menu->addAction(QStringLiteral("无单位")), &QAction::triggered, edit, [edit] { edit->clear(); });
    common->setMenu(menu);
    top->addWidget(common);
    column->addLayout(top);

    auto* quick = new QHBoxLayout;
    quick->setSpacing(4);
    for (const QString& unit : {QStringLiteral("µs"), QStringLiteral("ms"), QStringLiteral("°C"), QStringLiteral("Ω"),
                                QStringLiteral("µA"), QStringLiteral("°"), QStringLiteral("m/s²")}) {
        auto* preset = new QToolButton;
        preset->setText(unit);
        preset->setObjectName(objectName + QStringLiteral("Preset"));
        preset->setProperty("unitPreset", true);
        preset->setToolTip(QStringLiteral("使用单位 ") + unit);
        QObject::connect(preset, &QToolButton::clicked, edit, [edit, unit] { edit->setText(unit); });
        quick->addWidget(preset);
    }
    quick->addStretch();
    column->addLayout(quick);
    field = edit;
    return holder;
}

} // namespace vn
