#include "ui/controls/SerialControlPanel.h"

#include "ui/controls/ControlCardBuilder.h"
#include "ui/controls/ControlPacket.h"
#include "ui/controls/ControlPresets.h"
#include "ui/controls/GroupDialogs.h"
#include "ui/controls/PanelJson.h"
#include "ui/controls/SerialMonitorDialog.h"
#include "ui/kit/Combo.h"
#include "ui/kit/Factories.h"
#include "ui/kit/FoldingRow.h"
#include "ui/kit/IconButton.h"

#include <QBoxLayout>
#include <QEvent>
#include <QFrame>
#include <QGridLayout>
#include <QLabel>
#include <QMenu>
#include <QPushButton>
#include <QScrollArea>
#include <QSignalBlocker>

#include <algorithm>

namespace vn {

SerialControlPanel::SerialControlPanel(QWidget* parent) : QWidget(parent)
{
    setObjectName(QStringLiteral("serialControlPanel"));
    setAttribute(Qt::WA_StyledBackground);
    dataFont = Theme::defaultDataFont();

    auto* outer = new QVBoxLayout(this);
    outer->setContentsMargins(0, 0, 0, 0);
    outer->setSpacing(10);
    buildToolbar(outer);

    auto* frame = new QFrame;
    frame->setObjectName(QStringLiteral("controlCanvasFrame"));
    auto* frameLayout = new QVBoxLayout(frame);
    frameLayout->setContentsMargins(8, 8, 8, 8);
    scroll = new QScrollArea;
    scroll->setObjectName(QStringLiteral("controlScroll"));
    scroll->setFrameShape(QFrame::NoFrame);
    scroll->setWidgetResizable(true);
    scroll->viewport()->setObjectName(QStringLiteral("controlViewport"));
    scroll->viewport()->setAttribute(Qt::WA_StyledBackground);
    scroll->viewport()->installEventFilter(this);
    canvasWidget = new QWidget;
    canvasWidget->setObjectName(QStringLiteral("controlCanvas"));
    canvasWidget->setAttribute(Qt::WA_StyledBackground);
    canvasLayout = new QGridLayout(canvasWidget);
    canvasLayout->setContentsMargins(0, 4, 4, 4);
    canvasLayout->setSpacing(8);
    scroll->setWidget(canvasWidget);
    frameLayout->addWidget(scroll);
    outer->addWidget(frame, 1);

    status = new QLabel(QStringLiteral("选择串口后可发送；每个控件默认手动，可单独开启自动发送。"));
    status->setObjectName(QStringLiteral("controlStatus"));
    status->setWordWrap(true);
    status->setTextFormat(Qt::PlainText);
    outer->addWidget(status);

    sender = std::make_unique<ControlSender>(this, rows, status);
    connect(sender.get(), &ControlSender::valueEdited, this, [this] { changedTimer.start(); });
    connect(sender.get(), &ControlSender::channelApplied, this, [this](Channel* channel) {
        if (monitorWindow)
            monitorWindow->setChannel(channel);
    });
    canvas = std::make_unique<CanvasLayout>(canvasWidget, canvasLayout, scroll, rows);

    changedTimer.setSingleShot(true);
    changedTimer.setInterval(300);
    connect(&changedTimer, &QTimer::timeout, this, &SerialControlPanel::changed);
    arrangeTimer.setSingleShot(true);
    arrangeTimer.setInterval(0);
    connect(&arrangeTimer, &QTimer::timeout, this, &SerialControlPanel::arrange);

    restore(QJsonObject());
}

SerialControlPanel::~SerialControlPanel()
{
    sender->cancelPending();
    // The cards' connections point at rows and the monitor's at the toolbar;
    // none may fire while the members and children go.
    if (monitorWindow) {
        monitorWindow->disconnect(this);
        delete monitorWindow.data();
    }
    for (QObject* child : findChildren<QObject*>())
        child->blockSignals(true);
}

void SerialControlPanel::buildToolbar(QBoxLayout* outer)
{
    auto* toolbar = new QFrame;
    toolbar->setObjectName(QStringLiteral("controlToolbar"));
    // Not capped at its one-line height: its buttons take a second line in a
    // narrow window, and the canvas below takes every spare pixel anyway.
    toolbar->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Preferred);
    auto* rowsLayout = new QVBoxLayout(toolbar);
    rowsLayout->setContentsMargins(10, 8, 10, 8);
    rowsLayout->setSpacing(6);

    QHBoxLayout* first = horizontal(nullptr);
    first->addWidget(label(QStringLiteral("控件组"), QStringLiteral("controlGroupLabel")));
    groupCombo = new Combo;
    groupCombo->setObjectName(QStringLiteral("controlGroup"));
    groupCombo->menuPopup = true;
    groupCombo->setSizeAdjustPolicy(QComboBox::AdjustToMinimumContentsLengthWithIcon);
    groupCombo->setMinimumContentsLength(6);
    first->addWidget(groupCombo, 1);
    // The list is never rebuilt inside its own signal: the switch runs next.
    connect(groupCombo, &QComboBox::activated, this, [this](int index) {
        const QString id = groupCombo->itemData(index).toString();
        QTimer::singleShot(0, this, [this, id] { selectGroup(id); });
    });
    QPushButton* newGroupButton = button(QStringLiteral("新建组"), QString());
    newGroupButton->setObjectName(QStringLiteral("addControlGroup"));
    connect(newGroupButton, &QPushButton::clicked, this, [this] { manageGroup(QStringLiteral("new")); });
    first->addWidget(newGroupButton);
    QPushButton* manage = button(QStringLiteral("管理组"), QString());
    auto* manageMenu = new QMenu(manage);
    connect(manageMenu->addAction(QStringLiteral("重命名")), &QAction::triggered, this,
            [this] { manageGroup(QStringLiteral("rename")); });
    connect(manageMenu->addAction(QStringLiteral("复制控件组")), &QAction::triggered, this,
            [this] { manageGroup(QStringLiteral("copy")); });
    connect(manageMenu->addAction(QStringLiteral("删除控件组")), &QAction::triggered, this,
            [this] { manageGroup(QStringLiteral("delete")); });
    manage->setMenu(manageMenu);
    first->addWidget(manage);
    rowsLayout->addLayout(first);

    actionsRow = new QBoxLayout(QBoxLayout::LeftToRight);
    actionsRow->setSpacing(8);
    // Stacked under the layout part in a narrow panel, the four buttons still
    // break into two lines at the window's smallest width.
    auto* actions = new FoldingRow;
    actions->setContentsMargins(0, 0, 0, 0);
    QPushButton* add = button(QStringLiteral("添加控件"), QString());
    add->setObjectName(QStringLiteral("addSerialControl"));
    auto* addMenu = new QMenu(add);
    for (const QString& type : controlTypes())
        connect(addMenu->addAction(typeName(type)), &QAction::triggered, this,
                [this, type] { addControlOfType(type); });
    add->setMenu(addMenu);
    actions->addWidget(add);

    QPushButton* presets = button(QStringLiteral("常用控件组"), QString());
    presets->setObjectName(QStringLiteral("addControlExamples"));
    auto* presetMenu = new QMenu(presets);
    presetMenu->setToolTipsVisible(true);
    for (const QJsonValue& value : controlGroupPresets()) {
        const QJsonObject preset = value.toObject();
        const QString id = preset.value(QStringLiteral("id")).toString();
        QAction* action = presetMenu->addAction(preset.value(QStringLiteral("name")).toString());
        action->setObjectName(QStringLiteral("controlPreset_") + id);
        action->setToolTip(preset.value(QStringLiteral("description")).toString()
                           + QStringLiteral("；新建独立组，默认手动发送"));
        connect(action, &QAction::triggered, this, [this, id] { addPresetGroup(id); });
    }
    presetMenu->addSeparator();
    connect(presetMenu->addAction(QStringLiteral("基础控件示例（添加到当前组）")), &QAction::triggered, this,
            [this] { addExamples(); });
    presets->setMenu(presetMenu);
    actions->addWidget(presets);

    monitorToggle = button(QStringLiteral("收发小窗"), QString());
    monitorToggle->setObjectName(QStringLiteral("controlMonitorToggle"));
    monitorToggle->setToolTip(QStringLiteral("打开可调整大小的收发小窗，查看当前串口的发送和回显"));
    monitorToggle->setCheckable(true);
    connect(monitorToggle, &QPushButton::toggled, this, &SerialControlPanel::showMonitor);
    actions->addWidget(monitorToggle);

    QPushButton* clearAll = button(QStringLiteral("清空全部"), QString());
    clearAll->setObjectName(QStringLiteral("clearAllControls"));
    clearAll->setToolTip(QStringLiteral("清空本页面所有组内的控件，保留控件组和串口连接"));
    connect(clearAll, &QPushButton::clicked, this, &SerialControlPanel::clearControls);
    actions->addWidget(clearAll);
    actions->addStretch(1);
    actionsRow->addLayout(actions, 1);

    QHBoxLayout* layoutPart = horizontal(nullptr);
    columnsCombo = new Combo;
    columnsCombo->setObjectName(QStringLiteral("controlColumns"));
    columnsCombo->addItem(QStringLiteral("自由布局"), 0);
    columnsCombo->addItem(QStringLiteral("两列排列"), 2);
    columnsCombo->addItem(QStringLiteral("单列排列"), 1);
    connect(columnsCombo, &QComboBox::activated, this, [this] {
        rememberGeometry();
        canvas->appliedColumns = -1;
        arrange();
        Q_EMIT changed();
    });
    layoutPart->addWidget(columnsCombo);
    QPushButton* tidyButton = button(QStringLiteral("整理排列"), QString());
    tidyButton->setObjectName(QStringLiteral("tidyControls"));
    tidyButton->setToolTip(QStringLiteral("按当前窗口宽度重新整理位置，保留控件参数"));
    connect(tidyButton, &QPushButton::clicked, this, &SerialControlPanel::tidy);
    layoutPart->addWidget(tidyButton);
    actionsRow->addLayout(layoutPart, 0);
    rowsLayout->addLayout(actionsRow);

    outer->addWidget(toolbar);
}

int SerialControlPanel::columnChoice() const
{
    return columnsCombo->currentData().toInt();
}

// ---- model and panel JSON ----

QJsonObject SerialControlPanel::settings() const
{
    QJsonArray out = groups;
    const int index = groupIndex(out, activeGroup);
    if (index >= 0) {
        QJsonArray controls;
        for (const auto& row : rows)
            controls.append(canvas->storedRecord(*row));
        QJsonObject group = out.at(index).toObject();
        group.insert(QStringLiteral("controls"), controls);
        out.replace(index, group);
    }
    return QJsonObject{
        {QStringLiteral("groups"), out},
        {QStringLiteral("active_group"), activeGroup},
        {QStringLiteral("columns"), columnChoice()},
        {QStringLiteral("layout_version"), 2},
        {QStringLiteral("monitor"), monitorWindow ? monitorWindow->settings() : monitorSettings},
    };
}

void SerialControlPanel::restore(const QJsonObject& panel)
{
    cancelPending();
    clearCards();
    rows.clear();
    monitorSettings = panel.value(QStringLiteral("monitor")).toObject();
    canvas->forget();

    const PanelModel model = normalisePanel(panel);
    groups = model.groups;
    const QJsonObject active = groups.at(model.active).toObject();
    activeGroup = active.value(QStringLiteral("id")).toString();

    {
        const QSignalBlocker block(groupCombo);
        groupCombo->clear();
        for (const QJsonValue& value : std::as_const(groups)) {
            const QJsonObject group = value.toObject();
            groupCombo->addItem(group.value(QStringLiteral("name")).toString(),
                                group.value(QStringLiteral("id")).toString());
        }
        groupCombo->setCurrentIndex(model.active);
    }
    {
        const QSignalBlocker block(columnsCombo);
        const int found = columnsCombo->findData(model.columns);
        columnsCombo->setCurrentIndex(found < 0 ? 0 : found);
    }

    for (const QJsonValue& value : active.value(QStringLiteral("controls")).toArray())
        rows.push_back(std::make_unique<Row>(value.toObject()));
    rebuild();
}

void SerialControlPanel::applyPanel(const QJsonObject& panel)
{
    restore(panel);
    Q_EMIT changed();
}

QString SerialControlPanel::addGroup(const QString& name)
{
    if (groups.size() >= kMaxControlGroups) {
        status->setText(QStringLiteral("每页最多 32 个控件组"));
        return QString();
    }
    QJsonObject panel = settings();
    QJsonArray list = panel.value(QStringLiteral("groups")).toArray();
    const QString trimmed = name.trimmed();
    const QJsonObject group = newGroup(trimmed.isEmpty() ? QStringLiteral("新控件组") : trimmed.left(kMaxGroupName));
    list.append(group);
    panel.insert(QStringLiteral("groups"), list);
    panel.insert(QStringLiteral("active_group"), group.value(QStringLiteral("id")));
    applyPanel(panel);
    return activeGroup;
}

bool SerialControlPanel::selectGroup(const QString& id)
{
    if (groupIndex(groups, id) < 0)
        return false;
    if (id == activeGroup)
        return true;
    QJsonObject panel = settings();
    panel.insert(QStringLiteral("active_group"), id);
    applyPanel(panel);
    return true;
}

namespace {

// The active group's controls of a panel JSON, and a way to put them back.
QJsonArray activeControls(const QJsonObject& panel, const QString& active)
{
    const QJsonArray list = panel.value(QStringLiteral("groups")).toArray();
    const int index = groupIndex(list, active);
    return index < 0 ? QJsonArray() : list.at(index).toObject().value(QStringLiteral("controls")).toArray();
}

void setActiveControls(QJsonObject& panel, const QString& active, const QJsonArray& controls)
{
    QJsonArray list = panel.value(QStringLiteral("groups")).toArray();
    const int index = groupIndex(list, active);
    if (index < 0)
        return;
    QJsonObject group = list.at(index).toObject();
    group.insert(QStringLiteral("controls"), controls);
    list.replace(index, group);
    panel.insert(QStringLiteral("groups"), list);
}

} // namespace

void SerialControlPanel::addControl(const QJsonObject& control)
{
    if (rows.size() >= std::size_t(kMaxGroupControls)) {
        status->setText(QStringLiteral("每组最多 64 个控件"));
        return;
    }
    QJsonObject panel = settings();
    QJsonArray controls = activeControls(panel, activeGroup);
    QJsonObject record = control;
    if (!record.contains(QStringLiteral("layer")))
        record.insert(QStringLiteral("layer"), controls.size() + 1);
    controls.append(record);
    setActiveControls(panel, activeGroup, controls);
    applyPanel(panel);
}

void SerialControlPanel::reorder(int from, int to)
{
    cancelPending();
    QJsonObject panel = settings();
    QJsonArray controls = activeControls(panel, activeGroup);
    if (from < 0 || from >= controls.size())
        return;
    const QJsonValue record = controls.takeAt(from);
    controls.insert(std::clamp(qsizetype(to), qsizetype(0), controls.size()), record);
    setActiveControls(panel, activeGroup, controls);
    applyPanel(panel);
}

void SerialControlPanel::removeControl(int index)
{
    cancelPending();
    QJsonObject panel = settings();
    QJsonArray controls = activeControls(panel, activeGroup);
    if (index < 0 || index >= controls.size())
        return;
    controls.removeAt(index);
    setActiveControls(panel, activeGroup, controls);
    applyPanel(panel);
}

void SerialControlPanel::clearControls()
{
    cancelPending();
    const QJsonObject panel = settings();
    const QJsonArray list = panel.value(QStringLiteral("groups")).toArray();
    qsizetype total = 0;
    for (const QJsonValue& group : list)
        total += group.toObject().value(QStringLiteral("controls")).toArray().size();
    if (total == 0) {
        status->setText(QStringLiteral("所选范围内没有控件，无需清空。"));
        return;
    }
    if (!confirmClearControls(this, int(list.size()), int(total)))
        return;
    QJsonObject cleared = settings();
    QJsonArray emptied;
    for (const QJsonValue& value : cleared.value(QStringLiteral("groups")).toArray()) {
        QJsonObject group = value.toObject();
        group.insert(QStringLiteral("controls"), QJsonArray());
        emptied.append(group);
    }
    cleared.insert(QStringLiteral("groups"), emptied);
    applyPanel(cleared);
    status->setText(QStringLiteral("已清空 %1 个控件，控件组和连接已保留。").arg(total));
}

void SerialControlPanel::addControlOfType(const QString& type)
{
    if (rows.size() >= std::size_t(kMaxGroupControls)) {
        status->setText(QStringLiteral("每组最多 64 个控件"));
        return;
    }
    addControl(defaultControl(type));
    edit(int(rows.size()) - 1);
}

void SerialControlPanel::tidy()
{
    cancelPending();
    for (const auto& row : rows)
        row->control.remove(QStringLiteral("rect"));
    canvas->appliedColumns = -1;
    arrange();
    rememberGeometry();
    Q_EMIT changed();
}

void SerialControlPanel::setDataFont(const QFont& font)
{
    dataFont = font;
    if (monitorWindow)
        monitorWindow->setAppearance(theme, dataFont);
}

void SerialControlPanel::updateCanvasExtent()
{
    canvas->updateExtent();
}

void SerialControlPanel::initializeCanvas()
{
    if (!isVisible())
        return;
    arrange();
    if (canvas->appliedColumns == 0)
        rememberGeometry();
}

// ---- presets and examples ----

bool SerialControlPanel::addPresetGroup(const QString& id)
{
    if (groups.size() >= kMaxControlGroups) {
        status->setText(QStringLiteral("每页最多 32 个控件组"));
        return false;
    }
    QJsonObject preset;
    for (const QJsonValue& value : controlGroupPresets())
        if (value.toObject().value(QStringLiteral("id")).toString() == id)
            preset = value.toObject();
    if (preset.isEmpty())
        return false;

    cancelPending();
    QJsonObject panel = settings();
    QJsonArray list = panel.value(QStringLiteral("groups")).toArray();
    const QString base = preset.value(QStringLiteral("name")).toString();
    auto taken = [&list](const QString& candidate) {
        for (const QJsonValue& group : std::as_const(list))
            if (group.toObject().value(QStringLiteral("name")).toString() == candidate)
                return true;
        return false;
    };
    QString name = base;
    for (int n = 2; taken(name); ++n)
        name = base + QStringLiteral("（%1）").arg(n);

    QJsonObject group = newGroup(name);
    group.insert(QStringLiteral("controls"), preset.value(QStringLiteral("controls")));
    list.append(group);
    panel.insert(QStringLiteral("groups"), list);
    panel.insert(QStringLiteral("active_group"), group.value(QStringLiteral("id")));
    applyPanel(panel);
    status->setText(QStringLiteral("已添加“") + name
                    + QStringLiteral("”；默认手动发送，使用 SET {key} {value} + CRLF，请按设备协议编辑模板。"));
    return true;
}

void SerialControlPanel::addExamples()
{
    QJsonObject panel = settings();
    QJsonArray controls = activeControls(panel, activeGroup);
    int added = 0;
    for (const QJsonValue& value : exampleControls()) {
        if (controls.size() >= kMaxGroupControls)
            break;
        QJsonObject record = value.toObject();
        record.insert(QStringLiteral("layer"), controls.size() + 1);
        controls.append(record);
        ++added;
    }
    if (added == 0) {
        // A full group gets nothing; saying otherwise would be a false report.
        status->setText(QStringLiteral("当前组已有 64 个控件，未添加示例。"));
        return;
    }
    setActiveControls(panel, activeGroup, controls);
    applyPanel(panel);
    status->setText(QStringLiteral("已向当前组添加示例；拖动标题移动，拖动边缘缩放，点击垃圾桶删除。"));
}

// ---- sending and pacing ----

void SerialControlPanel::setChannel(Channel* channel) { sender->setChannel(channel); }
void SerialControlPanel::updatePreview(Row* row) { sender->updatePreview(*row); }
void SerialControlPanel::valueChanged(Row* row, const QString& value) { sender->valueChanged(*row, value); }
void SerialControlPanel::flushPending() { sender->flushPending(); }
void SerialControlPanel::send(Row* row) { sender->send(*row); }
void SerialControlPanel::cancelPending() { sender->cancelPending(); }

// ---- cards and layout ----

void SerialControlPanel::rebuild()
{
    cancelPending();
    clearCards();
    if (rows.empty())
        canvas->showEmptyNotice();
    for (std::size_t i = 0; i < rows.size(); ++i) {
        Row& row = *rows[i];
        row.card = buildControlCard(this, row, int(i), canvasWidget);
        sender->updatePreview(row);
        row.card->fitContents();
    }
    arrange();

    std::vector<Row*> stacking;
    for (const auto& row : rows)
        stacking.push_back(row.get());
    std::stable_sort(stacking.begin(), stacking.end(), [](const Row* a, const Row* b) {
        return a->control.value(QStringLiteral("layer")).toInt(0) < b->control.value(QStringLiteral("layer")).toInt(0);
    });
    for (Row* row : stacking) {
        row->card->raise();
        row->card->show();
    }

    sender->setChannel(sender->channel());
    if (isVisible())
        QTimer::singleShot(0, this, &SerialControlPanel::initializeCanvas);
}

void SerialControlPanel::arrange()
{
    canvas->arrange(columnChoice(), width());
}

void SerialControlPanel::rememberGeometry()
{
    canvas->rememberGeometry();
}

void SerialControlPanel::setTheme(const Theme& next)
{
    theme = next;
    if (monitorWindow)
        monitorWindow->setAppearance(theme, dataFont);
    for (IconButton* icon : findChildren<IconButton*>()) {
        icon->theme = theme;
        icon->update();
    }
}

void SerialControlPanel::clearCards()
{
    canvas->clear();
}

// ---- events ----

bool SerialControlPanel::eventFilter(QObject* watched, QEvent* event)
{
    if (watched == scroll->viewport() && event->type() == QEvent::Resize)
        arrangeTimer.start();
    return QWidget::eventFilter(watched, event);
}

void SerialControlPanel::resizeEvent(QResizeEvent* event)
{
    QWidget::resizeEvent(event);
    actionsRow->setDirection(width() >= 780 ? QBoxLayout::LeftToRight : QBoxLayout::TopToBottom);
    arrangeTimer.start();
}

void SerialControlPanel::showEvent(QShowEvent* event)
{
    QWidget::showEvent(event);
    QTimer::singleShot(0, this, &SerialControlPanel::initializeCanvas);
}

void SerialControlPanel::hideEvent(QHideEvent* event)
{
    cancelPending();
    QWidget::hideEvent(event);
}

} // namespace vn
