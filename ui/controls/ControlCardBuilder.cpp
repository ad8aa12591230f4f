#include "ui/controls/ControlCardBuilder.h"

#include "ui/controls/CanvasGeometry.h"
#include "ui/controls/ControlCard.h"
#include "ui/controls/ControlPacket.h"
#include "ui/controls/SerialControlPanel.h"
#include "ui/kit/IconButton.h"

#include <QBoxLayout>
#include <QCheckBox>
#include <QComboBox>
#include <QDoubleSpinBox>
#include <QLocale>
#include <QMenu>
#include <QPainter>
#include <QPushButton>
#include <QSlider>
#include <QToolButton>

namespace vn {

void CardTitle::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    painter.setPen(palette().color(QPalette::WindowText));
    painter.setFont(font());
    const QString shown = fontMetrics().elidedText(text(), Qt::ElideRight, width());
    painter.drawText(rect(), Qt::AlignLeft | Qt::AlignVCenter, shown);
}

namespace {

QString textOf(const QJsonObject& record, const QString& key)
{
    return record.value(key).toVariant().toString();
}

// The spin box that a slider and a number field share, with the record's
// value normalised to its range and decimals.
QDoubleSpinBox* valueSpin(ControlRow& row, const NumberRange& range)
{
    auto* spin = new QDoubleSpinBox;
    spin->setObjectName(QStringLiteral("controlValue"));
    spin->setLocale(QLocale::c());
    spin->setAlignment(Qt::AlignRight);
    spin->setDecimals(range.decimals);
    spin->setRange(range.minimum, range.maximum);
    spin->setSingleStep(range.step);
    spin->setKeyboardTracking(false);
    spin->setValue(QLocale::c().toDouble(textOf(row.control, QStringLiteral("value"))));
    row.control.insert(QStringLiteral("value"), fixedText(spin->value(), range.decimals));
    return spin;
}

void buildValueRow(SerialControlPanel* panel, ControlRow& row, QHBoxLayout* box)
{
    const QString type = row.control.value(QStringLiteral("type")).toString();
    ControlRow* target = &row;
    if (type == QLatin1String("slider") || type == QLatin1String("number")) {
        const NumberRange range = numberRange(row.control);
        QDoubleSpinBox* spin = valueSpin(row, range);
        QSlider* slider = nullptr;
        if (type == QLatin1String("slider")) {
            slider = new QSlider(Qt::Horizontal);
            slider->setObjectName(QStringLiteral("controlSlider"));
            slider->setRange(0, sliderSteps(range));
            slider->setValue(sliderPosition(spin->value(), range));
            spin->setMaximumWidth(range.decimals < 4 ? 118 : 144);
            box->addWidget(slider, 1);
            box->addWidget(spin, 0);
            QObject::connect(slider, &QSlider::valueChanged, spin,
                             [spin, range](int position) { spin->setValue(sliderValue(position, range)); });
        } else {
            box->addWidget(spin, 1);
        }
        QObject::connect(spin, &QDoubleSpinBox::valueChanged, panel, [panel, target, slider, range](double v) {
            if (slider) {
                const QSignalBlocker block(slider);
                slider->setValue(sliderPosition(v, range));
            }
            panel->valueChanged(target, fixedText(v, range.decimals));
        });
    } else if (type == QLatin1String("switch")) {
        auto* box2 = new QCheckBox(QStringLiteral("开启"));
        box2->setObjectName(QStringLiteral("controlSwitch"));
        box2->setChecked(row.control.value(QStringLiteral("value")).toString() == QLatin1String("1"));
        row.control.insert(QStringLiteral("value"), box2->isChecked() ? QStringLiteral("1") : QStringLiteral("0"));
        box->addWidget(box2);
        box->addStretch(1);
        QObject::connect(box2, &QCheckBox::toggled, panel, [panel, target](bool on) {
            panel->valueChanged(target, on ? QStringLiteral("1") : QStringLiteral("0"));
        });
    } else if (type == QLatin1String("select")) {
        auto* select = new QComboBox;
        select->setObjectName(QStringLiteral("controlSelect"));
        const QString value = row.control.value(QStringLiteral("value")).toString();
        const QList<ControlOption> options = controlOptions(textOf(row.control, QStringLiteral("options")));
        int current = -1;
        for (qsizetype i = 0; i < options.size(); ++i) {
            select->addItem(options.at(i).label, options.at(i).value);
            if (current < 0 && options.at(i).value == value)
                current = int(i);
        }
        current = std::max(current, 0);
        select->setCurrentIndex(options.isEmpty() ? -1 : current);
        row.control.insert(QStringLiteral("value"), options.isEmpty() ? QString() : options.at(current).value);
        box->addWidget(select, 1);
        QObject::connect(select, &QComboBox::activated, panel, [panel, target, select](int index) {
            panel->valueChanged(target, select->itemData(index).toString());
        });
    } else {
        auto* fixed = new QLabel(QStringLiteral("固定值：") + textOf(row.control, QStringLiteral("value")));
        fixed->setTextFormat(Qt::PlainText);
        fixed->setWordWrap(true);
        box->addWidget(fixed, 1);
    }
}

} // namespace

ControlCard* buildControlCard(SerialControlPanel* panel, ControlRow& row, int index, QWidget* canvas)
{
    ControlRow* target = &row;
    const QString type = row.control.value(QStringLiteral("type")).toString();
    const QString title = textOf(row.control, QStringLiteral("title"));

    auto* card = new ControlCard(canvas);
    card->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Preferred);
    auto* layout = new QVBoxLayout(card);
    layout->setContentsMargins(10, 6, 10, 18);
    layout->setSpacing(4);

    auto* bar = new QWidget;
    bar->setMinimumHeight(26);
    auto* barLayout = new QHBoxLayout(bar);
    barLayout->setContentsMargins(0, 0, 0, 0);
    barLayout->setSpacing(4);
    auto* titleLabel = new CardTitle(title);
    titleLabel->setObjectName(QStringLiteral("controlCardTitle"));
    titleLabel->setTextFormat(Qt::PlainText);
    titleLabel->setWordWrap(false);
    titleLabel->setMinimumWidth(0);
    titleLabel->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
    titleLabel->setToolTip(title + QStringLiteral(" · ") + typeName(type) + QStringLiteral(" · ")
                           + textOf(row.control, QStringLiteral("key")));
    barLayout->addWidget(titleLabel, 1);
    auto* badge = new QLabel(typeName(type));
    badge->setObjectName(QStringLiteral("controlKindBadge"));
    barLayout->addWidget(badge);
    auto* editButton = new QPushButton(QStringLiteral("编辑"));
    editButton->setObjectName(QStringLiteral("editControl"));
    barLayout->addWidget(editButton);
    auto* layer = new QToolButton;
    layer->setObjectName(QStringLiteral("controlLayerMenu"));
    layer->setText(QStringLiteral("图层"));
    layer->setAccessibleName(QStringLiteral("调整控件图层"));
    layer->setToolTip(QStringLiteral("调整控件重叠时的上下层级"));
    layer->setPopupMode(QToolButton::InstantPopup);
    auto* layerMenu = new QMenu(layer);
    QAction* top = layerMenu->addAction(QStringLiteral("移至最上层"));
    QAction* bottom = layerMenu->addAction(QStringLiteral("移至最下层"));
    layer->setMenu(layerMenu);
    barLayout->addWidget(layer);
    auto* remove = new IconButton(QStringLiteral("trash"), QStringLiteral("删除此控件"));
    remove->setObjectName(QStringLiteral("deleteControl"));
    remove->setFixedSize(26, 26);
    remove->theme = panel->currentTheme();
    barLayout->addWidget(remove);
    card->setDragHandle(bar, titleLabel);
    layout->addWidget(bar);

    auto* valueRow = new QWidget;
    valueRow->setMinimumHeight(34);
    auto* valueLayout = new QHBoxLayout(valueRow);
    valueLayout->setContentsMargins(0, 0, 0, 0);
    buildValueRow(panel, row, valueLayout);
    auto* sendButton =
        new QPushButton(type == QLatin1String("button") ? QStringLiteral("执行动作") : QStringLiteral("发送"));
    sendButton->setObjectName(QStringLiteral("sendControl"));
    valueLayout->addWidget(sendButton, 0);
    layout->addWidget(valueRow);

    auto* optionsRow = new QWidget;
    optionsRow->setMinimumHeight(26);
    auto* optionsLayout = new QHBoxLayout(optionsRow);
    optionsLayout->setContentsMargins(0, 0, 0, 0);
    auto* autoSend = new QCheckBox(QStringLiteral("自动发送"));
    autoSend->setObjectName(QStringLiteral("controlAutoSend"));
    autoSend->setChecked(row.control.value(QStringLiteral("auto_send")).toBool(false));
    autoSend->setToolTip(QStringLiteral("调节时立即提交首个值，此后最多每 50 毫秒发送最新值；切换开关本身不发送。"));
    autoSend->setVisible(type != QLatin1String("button"));
    optionsLayout->addWidget(autoSend);
    optionsLayout->addStretch(1);
    auto* previewToggle = new QToolButton;
    previewToggle->setObjectName(QStringLiteral("controlPreviewToggle"));
    previewToggle->setText(QStringLiteral("报文预览"));
    previewToggle->setCheckable(true);
    optionsLayout->addWidget(previewToggle);
    layout->addWidget(optionsRow);

    auto* preview = new QLabel;
    preview->setObjectName(QStringLiteral("controlPreview"));
    preview->setTextFormat(Qt::PlainText);
    preview->setWordWrap(true);
    preview->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
    preview->setTextInteractionFlags(Qt::TextSelectableByMouse);
    layout->addWidget(preview);
    layout->addStretch(1);

    row.preview = preview;
    row.previewToggle = previewToggle;
    row.sendButton = sendButton;
    row.autoSend = autoSend;

    QObject::connect(editButton, &QPushButton::clicked, panel, [panel, index] { panel->edit(index); });
    QObject::connect(top, &QAction::triggered, panel, [panel, card] {
        panel->cancelPending();
        card->raise();
        panel->rememberGeometry();
        Q_EMIT panel->changed();
    });
    QObject::connect(bottom, &QAction::triggered, panel, [panel, card] {
        panel->cancelPending();
        card->lower();
        panel->rememberGeometry();
        Q_EMIT panel->changed();
    });
    const QString group = panel->activeGroupId();
    QObject::connect(remove, &IconButton::clicked, panel, [panel, index, group] {
        panel->cancelPending();
        // The button must outlive its own signal; the group may change meanwhile.
        QTimer::singleShot(0, panel, [panel, index, group] {
            if (panel->activeGroupId() == group)
                panel->removeControl(index);
        });
    });
    QObject::connect(card, &ControlCard::interactionStarted, panel, [panel, card] {
        panel->cancelPending();
        panel->rememberGeometry();
        card->raise();
    });
    QObject::connect(card, &ControlCard::geometryEdited, panel, [panel] {
        panel->rememberGeometry();
        panel->updateCanvasExtent();
        panel->changeTimer().start();
    });
    QObject::connect(sendButton, &QPushButton::clicked, panel, [panel, target] {
        target->pending = false;
        panel->send(target);
    });
    QObject::connect(autoSend, &QCheckBox::toggled, panel, [panel, target](bool on) {
        panel->controlSender().setAutoSend(*target, on);
        Q_EMIT panel->changed();
    });
    QObject::connect(previewToggle, &QToolButton::toggled, panel, [panel, target, card] {
        panel->updatePreview(target);
        card->fitContents();
        panel->rememberGeometry();
        panel->updateCanvasExtent();
    });
    return card;
}

} // namespace vn
