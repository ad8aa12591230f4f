#include "ui/plot/WaveSettingsDialogs.h"

#include "ui/kit/Combo.h"
#include "ui/kit/Factories.h"
#include "ui/plot/WavePlot.h"
#include "ui/plot/WaveStyleEditor.h"

#include <QCheckBox>
#include <QDialog>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPushButton>
#include <QScrollArea>
#include <QTabWidget>
#include <QVBoxLayout>

namespace vn {

namespace {

QLabel* wrappedLabel(const QString& text)
{
    auto* note = new QLabel(text);
    note->setWordWrap(true);
    return note;
}

QDialogButtonBox* saveCancelReset(const QString& resetText)
{
    auto* box = new QDialogButtonBox(QDialogButtonBox::Save | QDialogButtonBox::Cancel
                                     | QDialogButtonBox::RestoreDefaults);
    QPushButton* save = box->button(QDialogButtonBox::Save);
    save->setText(QStringLiteral("保存"));
    save->setObjectName(QStringLiteral("primary"));
    box->button(QDialogButtonBox::Cancel)->setText(QStringLiteral("取消"));
    box->button(QDialogButtonBox::RestoreDefaults)->setText(resetText);
    return box;
}

void setMargins(QLayout* layout, int spacing)
{
    layout->setContentsMargins(20, 18, 20, 18);
    layout->setSpacing(spacing);
}

} // namespace

void runPlotSettingsDialog(WavePlot& plot)
{
    const WavePresentation& present = plot.presentation();
    QDialog dialog(&plot);
    dialog.setObjectName(QStringLiteral("waveSettingsDialog"));
    dialog.setWindowTitle(QStringLiteral("波形设置"));
    dialog.setMinimumWidth(560);
    auto* layout = new QVBoxLayout(&dialog);
    setMargins(layout, 14);
    auto* tabs = new QTabWidget;
    layout->addWidget(tabs);

    auto* axes = new QWidget;
    auto* form = new QFormLayout(axes);
    form->setRowWrapPolicy(QFormLayout::WrapLongRows);
    form->setContentsMargins(14, 16, 14, 16);
    form->setVerticalSpacing(12);
    auto* xTitle = new QLineEdit(present.xTitle);
    xTitle->setObjectName(QStringLiteral("waveXTitle"));
    xTitle->setMaxLength(64);
    form->addRow(QStringLiteral("X 轴名称"), xTitle);
    QLineEdit* xUnit = nullptr;
    form->addRow(QStringLiteral("X 轴单位"), unitEditor(xUnit, QStringLiteral("waveXUnit")));
    xUnit->setText(present.xUnit);
    auto* increment = new SampleIntervalBox;
    increment->setObjectName(QStringLiteral("waveXIncrement"));
    increment->setDecimals(9);
    increment->setRange(1e-9, 1e9);
    increment->setSingleStep(0.001);
    increment->setValue(present.xIncrement);
    form->addRow(QStringLiteral("每采样间隔"), increment);
    form->addRow(wrappedLabel(QStringLiteral("X 刻度 = 采样序号 × 间隔。按时间显示时，请填写实际采样周期。\n"
                                             "Y 单位只用于显示，请使用与原始数值一致的单位。")));
    auto* yTitle = new QLineEdit(present.yTitle);
    yTitle->setObjectName(QStringLiteral("waveYTitle"));
    yTitle->setMaxLength(64);
    form->addRow(QStringLiteral("Y 轴名称"), yTitle);
    QLineEdit* yUnit = nullptr;
    form->addRow(QStringLiteral("Y 轴单位"), unitEditor(yUnit, QStringLiteral("waveYUnit")));
    yUnit->setText(present.yUnit);
    tabs->addTab(scrollPanel(axes, QStringLiteral("waveAxesScroll")), QStringLiteral("坐标轴与单位"));

    auto* defaults = new QWidget;
    auto* column = new QVBoxLayout(defaults);
    column->setContentsMargins(14, 16, 14, 16);
    column->setSpacing(14);
    column->addWidget(wrappedLabel(QStringLiteral("所有未单独设置的通道使用以下样式。\n"
                                                  "在图例中的通道名称上右键，可单独设置颜色、线宽和线型。")));
    auto* editor = new StyleEditor(plot.theme.accent);
    editor->setValue(present.defaultStyle);
    column->addWidget(editor);
    column->addStretch();
    tabs->addTab(scrollPanel(defaults, QStringLiteral("waveDefaultsScroll")), QStringLiteral("默认曲线样式"));
    tabs->setCurrentIndex(plot.plotSettingsTab);

    QDialogButtonBox* buttons = saveCancelReset(QStringLiteral("全部恢复默认"));
    QPushButton* reset = buttons->button(QDialogButtonBox::RestoreDefaults);
    reset->setToolTip(QStringLiteral("保存后恢复默认坐标轴、曲线样式和通道可见性"));
    layout->addWidget(buttons);
    QObject::connect(buttons, &QDialogButtonBox::accepted, &dialog, &QDialog::accept);
    QObject::connect(buttons, &QDialogButtonBox::rejected, &dialog, &QDialog::reject);
    bool resetAll = false;
    QObject::connect(reset, &QPushButton::clicked, &dialog, [&] {
        resetAll = true;
        xTitle->setText(QStringLiteral("采样序号"));
        yTitle->clear();
        xUnit->clear();
        yUnit->clear();
        increment->setValue(1);
        editor->setValue(WaveCurveStyle());
        reset->setText(QStringLiteral("已恢复默认 · 保存后生效"));
    });

    makeDialogScrollable(&dialog, QSize(480, 280));
    if (!plot.plotSettingsGeometry.isEmpty())
        dialog.restoreGeometry(plot.plotSettingsGeometry);
    const bool saved = dialog.exec() == QDialog::Accepted;
    plot.plotSettingsGeometry = dialog.saveGeometry();
    plot.plotSettingsTab = tabs->currentIndex();
    if (!saved)
        return;
    QJsonObject settings = resetAll ? QJsonObject() : plot.presentationSettings();
    settings.insert(QStringLiteral("defaults"), styleJson(editor->value()));
    settings.insert(QStringLiteral("x_title"), xTitle->text());
    settings.insert(QStringLiteral("y_title"), yTitle->text());
    settings.insert(QStringLiteral("x_unit"), xUnit->text());
    settings.insert(QStringLiteral("y_unit"), yUnit->text());
    settings.insert(QStringLiteral("x_increment"), increment->value());
    plot.restorePresentation(settings);
    Q_EMIT plot.presentationChanged();
}

void runCurveSettingsDialog(WavePlot& plot, const QString& key)
{
    const WavePresentation& present = plot.presentation();
    const QString label = plot.curveLabel(key);
    QDialog dialog(&plot);
    dialog.setObjectName(QStringLiteral("waveCurveDialog"));
    dialog.setWindowTitle(QStringLiteral("曲线设置 · ") + label);
    dialog.setMinimumWidth(400);
    auto* layout = new QVBoxLayout(&dialog);
    setMargins(layout, 14);
    QLabel* title = wrappedLabel(QStringLiteral("当前通道：") + label);
    title->setObjectName(QStringLiteral("waveCurveTitle"));
    layout->addWidget(title);
    const bool inherits = !present.curveStyles.contains(key);
    auto* inherit = new QCheckBox(QStringLiteral("使用默认样式"));
    inherit->setObjectName(QStringLiteral("waveInheritStyle"));
    inherit->setChecked(inherits);
    layout->addWidget(inherit);
    auto* editor = new StyleEditor(plot.curveColor(key));
    editor->setValue(present.curveStyle(key));
    layout->addWidget(editor);
    layout->addWidget(wrappedLabel(QStringLiteral("直接修改任一选项，即可为当前通道单独保存样式。")));
    layout->addStretch();
    editor->changed = [inherit] { inherit->setChecked(false); };
    const auto loadDefault = [editor, &plot] { editor->setValue(plot.presentation().defaultStyle); };
    QObject::connect(inherit, &QCheckBox::toggled, &dialog, [loadDefault](bool on) {
        if (on)
            loadDefault();
    });

    QDialogButtonBox* buttons = saveCancelReset(QStringLiteral("恢复默认样式"));
    layout->addWidget(buttons);
    QObject::connect(buttons, &QDialogButtonBox::accepted, &dialog, &QDialog::accept);
    QObject::connect(buttons, &QDialogButtonBox::rejected, &dialog, &QDialog::reject);
    QObject::connect(buttons->button(QDialogButtonBox::RestoreDefaults), &QPushButton::clicked, &dialog,
                     [inherit, loadDefault] {
                         inherit->setChecked(true);
                         loadDefault();
                     });

    makeDialogScrollable(&dialog, QSize(400, 240));
    if (!plot.curveSettingsGeometry.isEmpty())
        dialog.restoreGeometry(plot.curveSettingsGeometry);
    const bool saved = dialog.exec() == QDialog::Accepted;
    plot.curveSettingsGeometry = dialog.saveGeometry();
    if (!saved)
        return;
    if (inherit->isChecked())
        plot.resetCurveStyle(key);
    else
        plot.setCurveStyle(key, editor->value());
}

void runReadoutChannelsDialog(WavePlot& plot)
{
    static const QString noteText =
        QStringLiteral("顶部最多显示四个固定宽度的读数。选择通道替换，或选“不显示”留空。");
    QDialog dialog(&plot);
    dialog.setObjectName(QStringLiteral("waveReadoutDialog"));
    dialog.setWindowTitle(QStringLiteral("读数通道"));
    auto* layout = new QVBoxLayout(&dialog);
    layout->setSpacing(12);
    auto* note = new QLabel(noteText);
    note->setObjectName(QStringLiteral("waveReadoutNote"));
    note->setWordWrap(true);
    note->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    note->setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Fixed);
    note->setMinimumHeight(2 * note->fontMetrics().lineSpacing());
    layout->addWidget(note);

    const QStringList current = plot.readoutChannels();
    QStringList offered = plot.curves().keys();
    for (const QString& name : current) {
        if (!plot.curves().contains(name))
            offered.append(name);
    }
    auto* form = new QFormLayout;
    form->setVerticalSpacing(8);
    QList<Combo*> slots;
    for (int i = 0; i < WavePresentation::MaxReadouts; ++i) {
        auto* slot = new Combo;
        slot->setObjectName(QStringLiteral("waveReadoutSlot%1").arg(i));
        slot->addItem(QStringLiteral("不显示"), QString());
        for (const QString& name : offered)
            slot->addItem(plot.curveLabel(name), name);
        const int index = i < current.size() ? slot->findData(current.at(i)) : -1;
        slot->setCurrentIndex(index > 0 ? index : 0);
        form->addRow(QStringLiteral("读数 %1").arg(i + 1), slot);
        slots.append(slot);
    }
    layout->addLayout(form);
    layout->addStretch();
    QDialogButtonBox* buttons = saveCancelReset(QStringLiteral("自动选择前四个"));
    layout->addWidget(buttons);
    QPushButton* save = buttons->button(QDialogButtonBox::Save);
    QObject::connect(buttons, &QDialogButtonBox::accepted, &dialog, &QDialog::accept);
    QObject::connect(buttons, &QDialogButtonBox::rejected, &dialog, &QDialog::reject);
    bool automatic = false;
    QObject::connect(buttons->button(QDialogButtonBox::RestoreDefaults), &QPushButton::clicked, &dialog, [&] {
        automatic = true;
        dialog.accept();
    });
    const auto chosen = [&slots] {
        QStringList names;
        for (Combo* slot : slots)
            names.append(slot->currentData().toString());
        return names;
    };
    for (Combo* slot : slots) {
        QObject::connect(slot, &QComboBox::currentIndexChanged, &dialog, [&] {
            QStringList seen;
            bool duplicate = false;
            for (const QString& name : chosen()) {
                if (name.isEmpty())
                    continue;
                duplicate = duplicate || seen.contains(name);
                seen.append(name);
            }
            save->setEnabled(!duplicate);
            note->setText(duplicate ? QStringLiteral("同一个通道只能选择一次，请替换重复的通道。") : noteText);
        });
    }

    dialog.resize(440, dialog.sizeHint().height());
    if (dialog.exec() != QDialog::Accepted)
        return;
    if (automatic)
        plot.useAutomaticReadouts();
    else
        plot.setReadoutChannels(chosen());
}

void runCurveMenu(WavePlot& plot, const QString& key, const QPoint& globalPosition)
{
    QMenu menu(&plot);
    menu.setObjectName(QStringLiteral("waveCurveMenu"));
    QAction* edit = menu.addAction(QStringLiteral("曲线设置…"));
    edit->setObjectName(QStringLiteral("editWaveCurve"));
    QObject::connect(edit, &QAction::triggered, &plot, [&plot, key] { plot.openCurveSettings(key); });
    QAction* shown = menu.addAction(QStringLiteral("显示曲线"));
    shown->setCheckable(true);
    shown->setChecked(plot.isCurveVisible(key));
    QObject::connect(shown, &QAction::toggled, &plot, [&plot, key](bool on) { plot.setCurveVisible(key, on); });
    QAction* reset = menu.addAction(QStringLiteral("恢复默认样式"));
    reset->setObjectName(QStringLiteral("resetWaveCurve"));
    QObject::connect(reset, &QAction::triggered, &plot, [&plot, key] { plot.resetCurveStyle(key); });
    menu.exec(globalPosition);
}

} // namespace vn
