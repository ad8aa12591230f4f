#include "ui/controls/ControlEditor.h"

#include "core/Fail.h"
#include "ui/controls/CanvasGeometry.h"
#include "ui/controls/ControlPacket.h"
#include "ui/controls/PanelJson.h"
#include "ui/controls/SerialControlPanel.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QDoubleSpinBox>
#include <QFormLayout>
#include <QLabel>
#include <QLineEdit>
#include <QLocale>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScrollArea>
#include <QSpinBox>
#include <QVBoxLayout>

#include <cmath>

namespace vn {

namespace {

QString textOf(const QJsonObject& record, const QString& key)
{
    return record.value(key).toVariant().toString();
}

bool isNumeric(const QString& type)
{
    return type == QLatin1String("slider") || type == QLatin1String("number");
}

} // namespace

ControlEditor::ControlEditor(const QJsonObject& record, const QJsonArray& groups, const QString& activeGroup,
                             QWidget* parent)
    : QDialog(parent), m_copy(record), m_groups(groups), m_activeGroup(activeGroup),
      m_type(record.value(QStringLiteral("type")).toString())
{
    setObjectName(QStringLiteral("serialControlEditor"));
    setWindowTitle(QStringLiteral("控件与发送格式"));
    resize(620, 620);
    setMinimumSize(340, 280);

    auto* outer = new QVBoxLayout(this);
    auto* scroll = new QScrollArea;
    scroll->setObjectName(QStringLiteral("controlEditorScroll"));
    scroll->setFrameShape(QFrame::NoFrame);
    scroll->setWidgetResizable(true);
    scroll->viewport()->setObjectName(QStringLiteral("controlEditorViewport"));
    scroll->viewport()->setAttribute(Qt::WA_StyledBackground);
    auto* content = new QWidget;
    content->setObjectName(QStringLiteral("controlEditorContent"));
    content->setAttribute(Qt::WA_StyledBackground);
    auto* form = new QFormLayout(content);
    form->setFieldGrowthPolicy(QFormLayout::AllNonFixedFieldsGrow);
    form->setRowWrapPolicy(QFormLayout::WrapLongRows);
    scroll->setWidget(content);
    outer->addWidget(scroll, 1);

    const bool numeric = isNumeric(m_type);
    const bool isButton = m_type == QLatin1String("button");
    const bool isSelect = m_type == QLatin1String("select");

    m_title = new QLineEdit(textOf(record, QStringLiteral("title")));
    m_title->setObjectName(QStringLiteral("controlEditorTitle"));
    m_title->setMaxLength(80);
    form->addRow(QStringLiteral("名称"), m_title);
    m_key = new QLineEdit(textOf(record, QStringLiteral("key")));
    m_key->setObjectName(QStringLiteral("controlEditorKey"));
    m_key->setMaxLength(64);
    form->addRow(QStringLiteral("参数名 {key}"), m_key);
    m_group = new QComboBox;
    m_group->setObjectName(QStringLiteral("controlEditorGroup"));
    for (const QJsonValue& value : groups) {
        const QJsonObject group = value.toObject();
        m_group->addItem(group.value(QStringLiteral("name")).toString(), group.value(QStringLiteral("id")).toString());
    }
    m_group->setCurrentIndex(std::max(0, m_group->findData(activeGroup)));
    form->addRow(QStringLiteral("所属控件组"), m_group);

    m_minimum = numberBox(form, QStringLiteral("minimum"), QStringLiteral("最小值"));
    m_maximum = numberBox(form, QStringLiteral("maximum"), QStringLiteral("最大值"));
    m_step = numberBox(form, QStringLiteral("step"), QStringLiteral("调节步长"));

    m_decimals = new QSpinBox(content);
    m_decimals->setObjectName(QStringLiteral("controlEditorDecimals"));
    m_decimals->setRange(0, 6);
    m_decimals->setValue(record.value(QStringLiteral("decimals")).toInt(0));
    if (numeric)
        form->addRow(QStringLiteral("小数位数"), m_decimals);
    else
        m_decimals->hide();

    m_buttonValue = new QLineEdit(textOf(record, QStringLiteral("value")), content);
    m_buttonValue->setObjectName(QStringLiteral("controlEditorButtonValue"));
    if (isButton)
        form->addRow(QStringLiteral("按钮发送值"), m_buttonValue);
    else
        m_buttonValue->hide();

    m_options = new QPlainTextEdit(textOf(record, QStringLiteral("options")), content);
    m_options->setObjectName(QStringLiteral("controlEditorOptions"));
    m_options->setMaximumHeight(100);
    if (isSelect)
        form->addRow(QStringLiteral("选项（每行 名称=值）"), m_options);
    else
        m_options->hide();

    m_format = new QComboBox;
    m_format->setObjectName(QStringLiteral("controlFormat"));
    m_format->addItem(QStringLiteral("文本模板"), QStringLiteral("text"));
    m_format->addItem(QStringLiteral("HEX 字节模板"), QStringLiteral("hex"));
    m_format->setCurrentIndex(std::max(0, m_format->findData(textOf(record, QStringLiteral("format")))));
    form->addRow(QStringLiteral("发送格式"), m_format);

    m_pattern = new QPlainTextEdit(textOf(record, QStringLiteral("pattern")));
    m_pattern->setObjectName(QStringLiteral("controlPattern"));
    m_pattern->setMaximumHeight(110);
    form->addRow(QStringLiteral("报文模板"), m_pattern);

    m_encoding = new QComboBox;
    m_encoding->setObjectName(QStringLiteral("controlEditorEncoding"));
    m_encoding->addItems({QStringLiteral("utf-8"), QStringLiteral("GBK"), QStringLiteral("ASCII")});
    m_encoding->setCurrentIndex(std::max(0, m_encoding->findText(textOf(record, QStringLiteral("encoding")))));
    form->addRow(QStringLiteral("文本编码"), m_encoding);

    m_newline = new QComboBox;
    m_newline->setObjectName(QStringLiteral("controlNewline"));
    m_newline->addItem(QStringLiteral("无行尾"), QStringLiteral("none"));
    m_newline->addItem(QStringLiteral("换行 LF"), QStringLiteral("lf"));
    m_newline->addItem(QStringLiteral("回车 CR"), QStringLiteral("cr"));
    m_newline->addItem(QStringLiteral("回车换行 CRLF"), QStringLiteral("crlf"));
    m_newline->setCurrentIndex(std::max(0, m_newline->findData(textOf(record, QStringLiteral("newline")))));
    form->addRow(QStringLiteral("文本行尾"), m_newline);

    m_autoSend = new QCheckBox(QStringLiteral("调节时自动发送"), content);
    m_autoSend->setObjectName(QStringLiteral("controlEditorAutoSend"));
    m_autoSend->setChecked(record.value(QStringLiteral("auto_send")).toBool(false));
    if (!isButton)
        form->addRow(QStringLiteral("发送方式"), m_autoSend);
    else
        m_autoSend->hide();

    auto* hint = new QLabel(
        QStringLiteral("文本：SET {key} {value}，也可填写 JSON，如 {\"speed\":{value}}。\n"
                       "HEX：AA 55 {value:u16le} 0D 0A。支持 u8/i8、u16/i16、u32/i32、f32；多字节需加 le（低字节在前）或 be（高字节在前）。HEX 不附加文本行尾。\n"
                       "自动发送只响应调节操作；动作按钮始终点击才发送。设备端需自行实现对应协议。"));
    hint->setObjectName(QStringLiteral("controlEditorHint"));
    hint->setTextFormat(Qt::PlainText);
    hint->setWordWrap(true);
    form->addRow(hint);

    m_preview = new QLabel;
    m_preview->setObjectName(QStringLiteral("controlEditorPreview"));
    m_preview->setTextFormat(Qt::PlainText);
    m_preview->setWordWrap(true);
    form->addRow(QStringLiteral("当前值预览"), m_preview);

    m_validation = new QLabel;
    m_validation->setObjectName(QStringLiteral("controlValidation"));
    m_validation->setTextFormat(Qt::PlainText);
    m_validation->setWordWrap(true);
    outer->addWidget(m_validation);

    m_buttons = new QDialogButtonBox(QDialogButtonBox::Save | QDialogButtonBox::Cancel);
    m_buttons->button(QDialogButtonBox::Save)->setText(QStringLiteral("保存"));
    m_buttons->button(QDialogButtonBox::Cancel)->setText(QStringLiteral("取消"));
    connect(m_buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(m_buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    outer->addWidget(m_buttons);

    auto recheck = [this] { check(); };
    for (QLineEdit* edit : {m_title, m_key, m_buttonValue})
        connect(edit, &QLineEdit::textChanged, this, recheck);
    for (QDoubleSpinBox* box : {m_minimum, m_maximum, m_step})
        connect(box, &QDoubleSpinBox::valueChanged, this, recheck);
    connect(m_decimals, &QSpinBox::valueChanged, this, recheck);
    connect(m_options, &QPlainTextEdit::textChanged, this, recheck);
    connect(m_pattern, &QPlainTextEdit::textChanged, this, recheck);
    for (QComboBox* combo : {m_group, m_format, m_encoding, m_newline})
        connect(combo, &QComboBox::currentIndexChanged, this, recheck);
    connect(m_autoSend, &QCheckBox::toggled, this, recheck);
    check();
}

QDoubleSpinBox* ControlEditor::numberBox(QFormLayout* form, const QString& key, const QString& label)
{
    auto* box = new QDoubleSpinBox;
    box->setObjectName(QStringLiteral("controlEditor_") + key);
    box->setLocale(QLocale::c());
    box->setDecimals(6);
    box->setRange(-1e9, 1e9);
    box->setValue(m_copy.value(key).toDouble(0));
    form->addRow(label, box);
    form->setRowVisible(box, isNumeric(m_type));
    return box;
}

QString ControlEditor::targetGroup() const
{
    return m_group->currentData().toString();
}

QJsonObject ControlEditor::collect() const
{
    QJsonObject record = m_copy;
    const bool isButton = m_type == QLatin1String("button");
    record.insert(QStringLiteral("auto_send"), isButton ? false : m_autoSend->isChecked());
    record.insert(QStringLiteral("title"), m_title->text().trimmed());
    record.insert(QStringLiteral("key"), m_key->text());
    record.insert(QStringLiteral("minimum"), m_minimum->value());
    record.insert(QStringLiteral("maximum"), m_maximum->value());
    record.insert(QStringLiteral("step"), m_step->value());
    record.insert(QStringLiteral("decimals"), m_decimals->value());
    record.insert(QStringLiteral("options"), m_options->toPlainText());
    record.insert(QStringLiteral("format"), m_format->currentData().toString());
    record.insert(QStringLiteral("pattern"), m_pattern->toPlainText());
    record.insert(QStringLiteral("encoding"), m_encoding->currentText());
    record.insert(QStringLiteral("newline"), m_newline->currentData().toString());

    if (isButton) {
        record.insert(QStringLiteral("value"), m_buttonValue->text());
    } else if (isNumeric(m_type)) {
        const double low = m_minimum->value();
        const double high = std::max(m_maximum->value(), low);
        const double original = QLocale::c().toDouble(textOf(m_copy, QStringLiteral("value")));
        record.insert(QStringLiteral("value"), fixedText(std::clamp(original, low, high), m_decimals->value()));
    } else if (m_type == QLatin1String("select")) {
        const QString current = textOf(m_copy, QStringLiteral("value"));
        const QList<ControlOption> options = controlOptions(m_options->toPlainText());
        bool kept = false;
        for (const ControlOption& option : options)
            kept = kept || option.value == current;
        if (!kept)
            record.insert(QStringLiteral("value"), options.isEmpty() ? QString() : options.first().value);
    }
    return record;
}

QString ControlEditor::check()
{
    const bool text = m_format->currentData().toString() == QLatin1String("text");
    m_encoding->setEnabled(text);
    m_newline->setEnabled(text);

    QString message;
    if (isNumeric(m_type)
        && (!(m_maximum->value() > m_minimum->value())
            || m_step->value() + 1e-12 < std::pow(10.0, -m_decimals->value())))
        message = QStringLiteral("最大值需大于最小值，步长需大于零且与小数位数一致");
    if (message.isEmpty() && targetGroup() != m_activeGroup) {
        const int index = groupIndex(m_groups, targetGroup());
        if (index >= 0
            && m_groups.at(index).toObject().value(QStringLiteral("controls")).toArray().size() >= kMaxGroupControls)
            message = QStringLiteral("目标组已满，请选择其他控件组");
    }
    if (message.isEmpty() && m_type == QLatin1String("select")) {
        const QStringList lines = m_options->toPlainText().split(QLatin1Char('\n'), Qt::SkipEmptyParts);
        if (lines.isEmpty())
            message = QStringLiteral("至少填写一个下拉选项");
        for (const QString& line : lines)
            if (message.isEmpty() && line.indexOf(QLatin1Char('=')) <= 0)
                message = QStringLiteral("选项格式为 名称=值，每行一项");
    }
    QByteArray packet;
    if (message.isEmpty()) {
        try {
            packet = controlPacket(collect());
        } catch (const std::exception& error) {
            message = errorText(error);
        }
    }

    QPushButton* save = m_buttons->button(QDialogButtonBox::Save);
    if (message.isEmpty()) {
        m_preview->setText(QString::fromLatin1(packet.toHex(' ').toUpper()));
        m_validation->clear();
        m_validation->hide();
        save->setEnabled(true);
    } else {
        m_preview->setText(message);
        m_validation->setText(message);
        m_validation->show();
        save->setEnabled(false);
    }
    return message;
}

void SerialControlPanel::edit(int index)
{
    if (index < 0 || index >= int(rows.size()))
        return;
    cancelPending();
    ControlEditor editor(rows[std::size_t(index)]->control, groups, activeGroup, this);
    if (editor.exec() != QDialog::Accepted)
        return;
    const QJsonObject record = editor.collect();
    const QString target = editor.targetGroup();
    if (target == activeGroup) {
        // The rows may have been rebuilt while the dialog ran; look the row up again.
        if (index < int(rows.size()))
            rows[std::size_t(index)]->control = record;
        rebuild();
        Q_EMIT changed();
        return;
    }
    QJsonObject panel = settings();
    QJsonArray list = panel.value(QStringLiteral("groups")).toArray();
    const int from = groupIndex(list, activeGroup);
    const int to = groupIndex(list, target);
    if (from < 0 || to < 0)
        return;
    QJsonObject source = list.at(from).toObject();
    QJsonObject destination = list.at(to).toObject();
    QJsonArray moved = destination.value(QStringLiteral("controls")).toArray();
    if (moved.size() >= kMaxGroupControls) {
        status->setText(QStringLiteral("目标组已有 64 个控件，未移动；请调整后重试。"));
        return;
    }
    QJsonArray left = source.value(QStringLiteral("controls")).toArray();
    if (index < left.size())
        left.removeAt(index);
    moved.append(record);
    source.insert(QStringLiteral("controls"), left);
    destination.insert(QStringLiteral("controls"), moved);
    list.replace(from, source);
    list.replace(to, destination);
    panel.insert(QStringLiteral("groups"), list);
    applyPanel(panel);
}

} // namespace vn
