#include "ui/pages/Instrument.h"

#include "core/Channel.h"
#include "core/Source.h"
#include "ui/controls/SerialControlPanel.h"
#include "ui/json/JsonAssistant.h"
#include "ui/kit/Combo.h"
#include "ui/kit/Factories.h"
#include "ui/kit/FoldingRow.h"
#include "ui/kit/IconButton.h"
#include "ui/kit/Splitter.h"
#include "ui/kit/Theme.h"
#include "ui/pages/InstrumentSources.h"
#include "ui/pages/PageAppearance.h"
#include "ui/pages/Pane.h"
#include "ui/pages/RecordTable.h"
#include "ui/pages/ValuesTable.h"
#include "ui/pages/WaveFormatHelp.h"
#include "ui/plot/WavePlot.h"
#include "ui/views/FilterBox.h"
#include "ui/window/Window.h"

#include <QCheckBox>
#include <QFrame>
#include <QHBoxLayout>
#include <QJsonArray>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QShowEvent>
#include <QSignalBlocker>
#include <QSpinBox>
#include <QVBoxLayout>

#include <exception>

namespace vn {

namespace {

const QString kPauseTip = QStringLiteral("暂停显示，后台继续接收");
const QString kResumeTip = QStringLiteral("继续显示，后台仍在接收");
const QString kWaiting = QStringLiteral("等待设备数据");

bool boolOf(const QJsonObject& object, const QString& key, bool fallback)
{
    const QJsonValue value = object.value(key);
    return value.isBool() ? value.toBool() : fallback;
}

QPushButton* namedButton(const QString& text, const QString& objectName)
{
    QPushButton* made = button(text, QString());
    if (!objectName.isEmpty())
        made->setObjectName(objectName);
    return made;
}

QCheckBox* checkBox(const QString& text, const QString& objectName, const QString& toolTip)
{
    auto* box = new QCheckBox(text);
    if (!objectName.isEmpty())
        box->setObjectName(objectName);
    box->setToolTip(toolTip);
    box->setChecked(true);
    return box;
}

} // namespace

QString Instrument::normalizedKind(const QString& given)
{
    if (given == QLatin1String("values"))
        return QStringLiteral("waveform");
    if (given == QLatin1String("structured"))
        return QStringLiteral("json");
    return given;
}

Instrument::Instrument(Pane* page, const QString& givenKind, QWidget* parent)
    : QWidget(parent)
    , kind(normalizedKind(givenKind))
    , m_page(page)
{
    if (page && page->window)
        window = page->window->rootWindow();
    setObjectName(QStringLiteral("page"));
    setAttribute(Qt::WA_StyledBackground);

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(16, 12, 16, 8);
    m_main = layout;
    // Both rows break into lines in a narrow window; a record filter box then
    // takes a line of its own under the source.
    m_sourceRow = new FoldingRow;
    m_sourceRow->setContentsMargins(0, 0, 0, 0);
    const bool control = kind == QLatin1String("control");
    m_sourceRow->addWidget(label(control ? QStringLiteral("控制目标") : QStringLiteral("数据来源"), QStringLiteral("muted")));
    sourceCombo = new Combo;
    sourceCombo->setObjectName(QStringLiteral("instrumentSource"));
    sourceCombo->setMinimumWidth(180);
    sourceCombo->setMaximumWidth(360);
    m_sourceRow->addWidget(sourceCombo, 1);
    m_sourceRow->addStretch();
    layout->addLayout(m_sourceRow);

    if (control) {
        panel = new SerialControlPanel(this);
        layout->addWidget(panel, 1);
        statusLabel = panel->statusLabel();
    } else {
        buildDisplayRow();
        if (kind == QLatin1String("waveform"))
            buildWaveform(givenKind);
        else
            buildRecords();
        statusLabel = label(kWaiting, QStringLiteral("muted"));
        layout->addWidget(statusLabel);
    }

    // What the page would otherwise wire itself: saving, zoom and the source choice.
    if (page) {
        const QPointer<Pane> guarded(page);
        const auto save = [guarded]() {
            if (guarded && guarded->window)
                guarded->window->saveSettings();
        };
        connect(this, &Instrument::settingsChanged, this, save);
        if (panel) {
            connect(panel, &SerialControlPanel::changed, this, save);
            connect(panel, &SerialControlPanel::zoomRequested, this, [guarded](int steps) {
                if (guarded)
                    guarded->zoom(steps);
            });
        }
        connect(sourceCombo, &Combo::activated, this, [this, guarded](int index) {
            if (guarded)
                InstrumentSources::choose(*guarded, *this, index);
        });
    }
}

Instrument::~Instrument() = default;

void Instrument::buildDisplayRow()
{
    m_displayRow = new FoldingRow;
    m_displayRow->setContentsMargins(0, 0, 0, 0);
    pauseButton = new IconButton(QStringLiteral("pause"), kPauseTip);
    pauseButton->setObjectName(QStringLiteral("pauseInstrumentDisplay"));
    pauseButton->setCheckable(true);
    auto* clear = new IconButton(QStringLiteral("trash"), QStringLiteral("清空当前页面，保留共享历史"));
    clear->setObjectName(QStringLiteral("clearInstrumentDisplay"));
    m_displayRow->addWidget(pauseButton);
    m_displayRow->addWidget(clear);
    m_displayRow->addStretch();
    m_main->addLayout(m_displayRow);
    connect(pauseButton, &IconButton::toggled, this, &Instrument::pauseToggled);
    connect(clear, &IconButton::clicked, this, &Instrument::clearDisplay);
}

void Instrument::buildWaveform(const QString& givenKind)
{
    followBox = checkBox(QStringLiteral("跟随最新"), QString(),
                         QStringLiteral("保留当前横轴跨度和纵轴范围，平移到最新采样；自动缩放可恢复完整范围"));
    pointsBox = new QSpinBox;
    pointsBox->setRange(100, 5000);
    pointsBox->setValue(1000);
    pointsBox->setFixedWidth(112);
    pointsBox->setToolTip(QStringLiteral("保留的采样上限；滚轮调整可见范围"));
    autoScaleButton = namedButton(QStringLiteral("自动缩放"), QString());
    waveSettingsButton = namedButton(QStringLiteral("波形设置"), QStringLiteral("waveSettings"));
    formatHelpButton = namedButton(QStringLiteral("数据格式"), QStringLiteral("waveFormatHelpButton"));
    for (QWidget* widget : {static_cast<QWidget*>(followBox), static_cast<QWidget*>(pointsBox),
                            static_cast<QWidget*>(autoScaleButton), static_cast<QWidget*>(waveSettingsButton),
                            static_cast<QWidget*>(formatHelpButton)})
        m_displayRow->addWidget(widget);

    xAxisBox = checkBox(QStringLiteral("X 轴"), QStringLiteral("waveXAxis"),
                        QStringLiteral("显示横轴刻度与采样序号；隐藏后仍可缩放和拖动"));
    yAxisBox = checkBox(QStringLiteral("Y 轴"), QStringLiteral("waveYAxis"),
                        QStringLiteral("显示纵轴数值刻度；隐藏后仍可缩放和拖动"));
    m_sourceRow->addWidget(xAxisBox);
    m_sourceRow->addWidget(yAxisBox);

    valuesToggle = namedButton(QStringLiteral("实时数值"), QStringLiteral("waveValuesToggle"));
    valuesToggle->setCheckable(true);
    valuesToggle->setToolTip(QStringLiteral("显示或隐藏波形页内的实时数值面板"));
    m_displayRow->insertWidget(1, valuesToggle);

    plot = new WavePlot;
    valuesPanel = new QFrame;
    valuesPanel->setObjectName(QStringLiteral("waveValuesPanel"));
    valuesPanel->setMinimumWidth(260);
    auto* panelLayout = new QVBoxLayout(valuesPanel);
    panelLayout->setContentsMargins(10, 8, 6, 6);
    QHBoxLayout* header = horizontal(nullptr);
    header->addWidget(new QLabel(QStringLiteral("实时数值")));
    header->addStretch();
    auto* hide = new IconButton(QStringLiteral("close"), QStringLiteral("隐藏实时数值面板"));
    hide->setObjectName(QStringLiteral("waveValuesClose"));
    header->addWidget(hide);
    panelLayout->addLayout(header);
    table = new ValuesTable;
    panelLayout->addWidget(table, 1);

    valuesSplitter = new Splitter(Qt::Horizontal);
    valuesSplitter->setObjectName(QStringLiteral("waveValuesSplitter"));
    valuesSplitter->addWidget(plot);
    valuesSplitter->addWidget(valuesPanel);
    valuesSplitter->setStretchFactor(0, 3);
    valuesSplitter->setStretchFactor(1, 1);
    valuesPanel->hide();
    m_main->addWidget(valuesSplitter, 1);

    connect(waveSettingsButton, &QPushButton::clicked, plot, &WavePlot::openPlotSettings);
    connect(xAxisBox, &QCheckBox::toggled, plot, &WavePlot::setXAxisVisible);
    connect(yAxisBox, &QCheckBox::toggled, plot, &WavePlot::setYAxisVisible);
    connect(valuesToggle, &QPushButton::toggled, this, &Instrument::valuesToggled);
    connect(valuesToggle, &QPushButton::clicked, this, &Instrument::settingsChanged);
    connect(hide, &IconButton::clicked, valuesToggle, &QPushButton::click);
    connect(valuesSplitter, &QSplitter::splitterMoved, this, [this]() {
        if (valuesPanel->isVisible())
            valuesSizes = valuesSplitter->sizes();
    });
    if (givenKind == QLatin1String("values"))
        valuesToggle->setChecked(true);
    connect(followBox, &QCheckBox::toggled, plot, &WavePlot::setFollowLatest);
    connect(plot, &WavePlot::followLatestChanged, followBox, &QCheckBox::setChecked);
    connect(plot, &WavePlot::presentationChanged, this, &Instrument::settingsChanged);
    refreshTimer.setInterval(16);
    refreshTimer.setTimerType(Qt::PreciseTimer);
    connect(&refreshTimer, &QTimer::timeout, this, &Instrument::timerTick);
    connect(pointsBox, &QSpinBox::valueChanged, this, [this]() { tick(channel.data()); });
    connect(autoScaleButton, &QPushButton::clicked, plot, &WavePlot::resetView);
    connect(formatHelpButton, &QPushButton::clicked, this, &Instrument::showFormatHelp);
}

void Instrument::buildRecords()
{
    auto* records = new RecordTable;
    table = records;
    filterBox = new FilterBox;
    filterBox->setPlaceholderText(QStringLiteral("筛选解析记录"));
    m_sourceRow->addWidget(filterBox, 0, FoldingRow::OwnLineWhenFolded);
    if (kind == QLatin1String("json")) {
        jsonAssistantButton = namedButton(QStringLiteral("JSON 助手"), QStringLiteral("jsonAssistant"));
        m_displayRow->addWidget(jsonAssistantButton);
        connect(jsonAssistantButton, &QPushButton::clicked, this, [this, records]() {
            showJsonAssistant(this, records->currentRecord().value(QStringLiteral("text")).toString());
        });
    }
    detail = new QPlainTextEdit;
    detail->setReadOnly(true);
    auto* splitter = new Splitter(Qt::Vertical);
    splitter->addWidget(records);
    splitter->addWidget(detail);
    splitter->setSizes({360, 200});
    m_main->addWidget(splitter, 1);

    connect(filterBox, &FilterBox::criteriaChanged, this, [this, records]() { records->applyFilter(filterBox->filter); });
    connect(records, &QTreeWidget::currentItemChanged, this, [this](QTreeWidgetItem* current) {
        detail->setPlainText(RecordTable::recordOf(current).value(QStringLiteral("pretty")).toString());
    });
}

RecordTable* Instrument::records() const
{
    return showsRecords() ? static_cast<RecordTable*>(table) : nullptr;
}

ValuesTable* Instrument::values() const
{
    return plot ? static_cast<ValuesTable*>(table) : nullptr;
}

bool Instrument::paused() const
{
    return pauseButton && pauseButton->isChecked();
}

int Instrument::sampleLimit() const
{
    return pointsBox ? pointsBox->value() : 1000;
}

// --- Refresh -------------------------------------------------------------------

void Instrument::tick(Channel* live)
{
    if (panel) {
        panel->setChannel(live);
        return;
    }
    if (!live) {
        channel = nullptr;
        return;
    }
    channel = live;
    if (paused())
        return;
    if (plot)
        tickWaveform(live);
    else if (showsRecords())
        tickRecords(live);
}

void Instrument::tickWaveform(Channel* live)
{
    plot->updateChannel(live, sampleLimit());
    qint64 samples = 0;
    qint64 rejected = 0;
    for (const auto& [name, source] : live->sources) {
        samples += source->sampleIndex;
        rejected += source->rejectedLines;
    }
    if (valuesToggle->isChecked())
        refreshValues(live);
    statusLabel->setText(QStringLiteral("%1 个采样    %2 条曲线    格式错误 %3 帧")
                             .arg(samples)
                             .arg(plot->curves().size())
                             .arg(rejected));
}

void Instrument::tickRecords(Channel* live)
{
    QJsonObject result;
    try {
        result = live->structured(0, 100, recordCursors);
    } catch (const std::exception&) {
        // The cursors come from the channel itself; a refusal leaves the table as it is.
        return;
    }
    RecordTable* rows = records();
    QTreeWidgetItem* before = rows->currentItem();
    {
        // One detail update for the whole batch instead of one per appended row.
        const QSignalBlocker blocker(rows);
        const QJsonObject sources = result.value(QStringLiteral("sources")).toObject();
        for (auto source = sources.begin(); source != sources.end(); ++source) {
            const QJsonObject entry = source.value().toObject();
            recordCursors.insert(source.key(), entry.value(QStringLiteral("next_cursor")));
            for (const QJsonValue& value : entry.value(QStringLiteral("records")).toArray()) {
                const QJsonObject record = value.toObject();
                if (record.value(QStringLiteral("format")).toString() == kind)
                    rows->append(record, source.key(), filterBox->filter);
            }
        }
    }
    if (rows->currentItem() != before || !before)
        detail->setPlainText(rows->currentRecord().value(QStringLiteral("pretty")).toString());
    statusLabel->setText(QStringLiteral("%1 条解析记录 · 原始报文仍保留在收发页").arg(rows->topLevelItemCount()));
}

void Instrument::refreshValues(Channel* live)
{
    ValuesTable* rows = values();
    if (!rows)
        return;
    QJsonObject sources;
    if (live) {
        try {
            sources = live->waveform(1).value(QStringLiteral("sources")).toObject();
        } catch (const std::exception&) {
            sources = QJsonObject();
        }
    }
    // Nothing new since the last build: no table work at all. A table left
    // with rows while there is nothing to show is emptied all the same.
    if (sources == valueSnapshot && !(sources.isEmpty() && rows->topLevelItemCount() > 0))
        return;
    valueSnapshot = sources;
    rows->fill(sources, *plot);
}

void Instrument::clearDisplay()
{
    Channel* live = channel.data();
    if (plot)
        plot->clearSamples(live, sampleLimit());
    if (showsRecords() && live) {
        for (const auto& [name, source] : live->sources)
            recordCursors.insert(name, source->recordSeq);
    }
    valueSnapshot = QJsonObject();
    if (table)
        table->clear();
    if (detail)
        detail->clear();
    statusLabel->setText(QStringLiteral("已清空，等待新数据"));
}

void Instrument::bind(Channel* live)
{
    if (live != channel.data()) {
        recordCursors = QJsonObject();
        valueSnapshot = QJsonObject();
        if (table)
            table->clear();
        if (detail)
            detail->clear();
        if (plot)
            plot->setSamples(QJsonObject());
        if (statusLabel)
            statusLabel->setText(live ? kWaiting : QStringLiteral("等待数据来源连接"));
    }
    if (panel)
        panel->setChannel(live);
    channel = live;
}

// --- Switches and timer ------------------------------------------------------

void Instrument::pauseToggled(bool on)
{
    const QString tip = on ? kResumeTip : kPauseTip;
    pauseButton->setToolTip(tip);
    pauseButton->setAccessibleName(tip);
    if (!plot)
        return;
    if (on) {
        refreshTimer.stop();
    } else if (isVisible()) {
        refreshTimer.start();
        tick(channel.data());
    }
}

void Instrument::valuesToggled(bool on)
{
    if (!on) {
        const QList<int> sizes = valuesSplitter->sizes();
        // A panel that never got laid out reports a zero width; keep the last good sizes then.
        if (sizes.size() == 2 && sizes.at(0) > 0 && sizes.at(1) > 0)
            valuesSizes = sizes;
        valuesPanel->hide();
        return;
    }
    valuesPanel->show();
    valuesSplitter->setSizes(valuesSizes);
    valueSnapshot = QJsonObject();
    if (!paused())
        refreshValues(channel.data());
}

void Instrument::timerTick()
{
    const QWidget* top = QWidget::window();
    if (isVisible() && !(top && top->isMinimized()))
        tick(channel.data());
}

void Instrument::showEvent(QShowEvent* event)
{
    QWidget::showEvent(event);
    if (plot && !paused())
        refreshTimer.start();
}

void Instrument::hideEvent(QHideEvent* event)
{
    refreshTimer.stop();
    QWidget::hideEvent(event);
}

void Instrument::showFormatHelp()
{
    if (window)
        WaveFormatHelp::show(window);
}

// --- Settings, source and appearance -------------------------------------------

QJsonObject Instrument::settings() const
{
    QJsonObject object{{QStringLiteral("kind"), kind}};
    if (pauseButton)
        object.insert(QStringLiteral("frozen"), pauseButton->isChecked());
    if (panel)
        object.insert(QStringLiteral("serial_controls"), panel->settings());
    if (filterBox)
        object.insert(QStringLiteral("search_filter"), filterBox->filter.settings());
    if (pointsBox) {
        object.insert(QStringLiteral("points"), pointsBox->value());
        object.insert(QStringLiteral("x_axis"), xAxisBox->isChecked());
        object.insert(QStringLiteral("y_axis"), yAxisBox->isChecked());
        object.insert(QStringLiteral("wave_presentation"), plot->presentationSettings());
    }
    if (valuesToggle) {
        // A page that is not on screen has no laid-out splitter: its sizes are the remembered ones.
        const QList<int> sizes = valuesPanel->isVisible() ? valuesSplitter->sizes() : valuesSizes;
        object.insert(QStringLiteral("values_sizes"), QJsonArray{sizes.value(0, 760), sizes.value(1, 320)});
        object.insert(QStringLiteral("show_values"), valuesToggle->isChecked());
    }
    return object;
}

void Instrument::restore(const QJsonObject& settings)
{
    if (pauseButton)
        pauseButton->setChecked(boolOf(settings, QStringLiteral("frozen"), false));
    if (panel)
        panel->restore(settings.value(QStringLiteral("serial_controls")).toObject());
    if (filterBox)
        filterBox->restore(settings.value(QStringLiteral("search_filter")).toObject());
    if (pointsBox) {
        const QJsonValue points = settings.value(QStringLiteral("points"));
        pointsBox->setValue(points.isDouble() ? points.toInt(1000) : 1000);
        xAxisBox->setChecked(boolOf(settings, QStringLiteral("x_axis"), true));
        yAxisBox->setChecked(boolOf(settings, QStringLiteral("y_axis"), true));
        plot->restorePresentation(settings.value(QStringLiteral("wave_presentation")).toObject());
    }
    if (valuesToggle) {
        const QJsonArray sizes = settings.value(QStringLiteral("values_sizes")).toArray();
        if (sizes.size() == 2 && sizes.at(0).toInt() > 0 && sizes.at(1).toInt() > 0)
            valuesSizes = {sizes.at(0).toInt(), sizes.at(1).toInt()};
        valuesToggle->setChecked(boolOf(settings, QStringLiteral("show_values"), false));
    }
}

void Instrument::refreshSource()
{
    if (m_page)
        InstrumentSources::refresh(*m_page, *this);
}

void Instrument::applyAppearance(const Theme& theme, const QFont& dataFont)
{
    const QString rule = PageAppearance::fontRule(dataFont);
    if (panel) {
        panel->setTheme(theme);
        panel->setDataFont(dataFont);
    }
    for (IconButton* each : findChildren<IconButton*>()) {
        each->theme = theme;
        each->update();
    }
    if (plot) {
        plot->theme = theme;
        plot->setFont(dataFont);
        plot->setStyleSheet(rule);
        plot->update();
    }
    for (QWidget* view : {static_cast<QWidget*>(table), static_cast<QWidget*>(detail)}) {
        if (!view)
            continue;
        view->setFont(dataFont);
        view->setStyleSheet(rule);
    }
}

} // namespace vn
