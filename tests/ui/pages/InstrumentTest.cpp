#include "PageFixture.h"

#include "ui/kit/Combo.h"
#include "ui/kit/IconButton.h"
#include "ui/kit/Splitter.h"
#include "ui/pages/Instrument.h"
#include "ui/pages/RecordTable.h"
#include "ui/pages/ValuesTable.h"
#include "ui/pages/WaveFormatHelp.h"
#include "ui/plot/WavePlot.h"
#include "ui/views/FilterBox.h"

#include <QCheckBox>
#include <QDialog>
#include <QFrame>
#include <QLabel>
#include <QLayout>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QSpinBox>
#include <QTextBrowser>
#include <QTextBlock>
#include <QTreeWidget>

using namespace vn;
using namespace vn::test;

namespace {

// The instrument of a new control page of that kind, shown and bound to the
// channel (none for null).
Instrument* hosted(PageFixture& fixture, const QString& kind, Channel* channel = nullptr)
{
    Pane* page = fixture.window->newInstrument(kind, nullptr, true, QString());
    Instrument* instrument = page->instrument();
    if (!instrument) {
        // A page that does not host instruments itself yet still gets one.
        instrument = new Instrument(page, kind, page);
        page->layout()->addWidget(instrument);
    }
    fixture.window->showPane(page);
    page->setChannel(channel);
    instrument->bind(channel);
    return instrument;
}

Channel* loopChannel(PageFixture& fixture)
{
    Channel* channel = fixture.engine.open(loopback());
    channel->configureParser(QStringLiteral("auto"), QStringLiteral("utf-8"));
    return channel;
}

void send(Channel* channel, const QByteArray& data)
{
    channel->send(data, QString(), QStringLiteral("gui"));
}

QStringList columnTexts(const QTreeWidget* tree, int column)
{
    QStringList texts;
    for (int row = 0; row < tree->topLevelItemCount(); ++row)
        texts.append(tree->topLevelItem(row)->text(column));
    return texts;
}

QList<QDialog*> helpDialogs()
{
    QList<QDialog*> found;
    for (QWidget* widget : QApplication::topLevelWidgets()) {
        auto* dialog = qobject_cast<QDialog*>(widget);
        if (dialog && dialog->isVisible() && dialog->objectName() == QLatin1String("waveFormatHelp"))
            found.append(dialog);
    }
    return found;
}

} // namespace

class InstrumentTest : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void kindsBuildTheirWidgets_data()
    {
        QTest::addColumn<QString>("given");
        QTest::addColumn<QString>("kind");
        QTest::addColumn<QStringList>("names");
        QTest::addColumn<bool>("valuesShown");
        QTest::newRow("waveform") << "waveform" << "waveform"
                                  << QStringList{"instrumentSource", "pauseInstrumentDisplay", "clearInstrumentDisplay",
                                                 "waveXAxis", "waveYAxis", "waveSettings", "waveValuesToggle",
                                                 "waveValuesPanel", "waveValuesSplitter", "waveValues"}
                                  << false;
        QTest::newRow("legacy values") << "values" << "waveform" << QStringList{"waveValues"} << true;
        QTest::newRow("json") << "json" << "json"
                              << QStringList{"instrumentSource", "pauseInstrumentDisplay", "jsonAssistant"} << false;
        QTest::newRow("legacy structured") << "structured" << "json" << QStringList{"jsonAssistant"} << false;
        QTest::newRow("control") << "control" << "control" << QStringList{"instrumentSource"} << false;
    }

    void kindsBuildTheirWidgets()
    {
        QFETCH(QString, given);
        QFETCH(QString, kind);
        QFETCH(QStringList, names);
        QFETCH(bool, valuesShown);
        PageFixture fixture;
        Instrument instrument(nullptr, given);
        QCOMPARE(instrument.kind, kind);
        QCOMPARE(instrument.objectName(), QStringLiteral("page"));
        for (const QString& name : names)
            QVERIFY2(instrument.findChild<QWidget*>(name), qPrintable(name));
        QCOMPARE(instrument.plot != nullptr, kind == QLatin1String("waveform"));
        QCOMPARE(instrument.panel != nullptr, kind == QLatin1String("control"));
        QCOMPARE(instrument.filterBox != nullptr, instrument.showsRecords());
        QCOMPARE(instrument.findChild<QPushButton*>(QStringLiteral("jsonAssistant")) != nullptr,
                 kind == QLatin1String("json"));
        if (instrument.valuesToggle) {
            QCOMPARE(instrument.valuesToggle->isChecked(), valuesShown);
            QCOMPARE(!instrument.valuesPanel->isHidden(), valuesShown);
        }
        if (instrument.statusLabel && !instrument.panel)
            QCOMPARE(instrument.statusLabel->text(), QStringLiteral("等待设备数据"));
    }

    void demoChannelFeedsWaveformPage()
    {
        PageFixture fixture;
        Instrument* instrument = hosted(fixture, QStringLiteral("waveform"));
        Pane* page = qobject_cast<Pane*>(instrument->parentWidget());
        QVERIFY(page);
        page->sourceKey = Config::waveformDemo().key();
        fixture.engine.waveformDemo();
        instrument->refreshSource();
        QVERIFY(page->channel);
        instrument->bind(page->channel);

        // The combo offers the waveform demo, current, and never the structured one.
        Combo* combo = instrument->sourceCombo;
        QCOMPARE(combo->currentData().toString(), Config::waveformDemo().key());
        QCOMPARE(combo->findData(Config::structuredDemo().key()), -1);
        QCOMPARE(combo->toolTip(), QStringLiteral("本地演示波形 · 50 Hz · 不占用串口"));

        // The page's own precise timer refreshes the plot while it shows.
        QTRY_VERIFY(instrument->refreshTimer.isActive());
        QTRY_COMPARE(instrument->plot->curves().size(), 4);
        QTRY_VERIFY(instrument->statusLabel->text().contains(QStringLiteral("个采样    4 条曲线    格式错误 0 帧")));

        QTest::mouseClick(instrument->findChild<QPushButton*>(QStringLiteral("waveValuesToggle")), Qt::LeftButton);
        QVERIFY(!instrument->valuesPanel->isHidden());
        QTRY_COMPARE(columnTexts(instrument->table, 0).size(), 4);
        QCOMPARE(columnTexts(instrument->table, 2), QStringList(4, QStringLiteral("本连接")));

        // Pausing stops the timer; the channel goes on receiving.
        QTest::mouseClick(instrument->pauseButton, Qt::LeftButton);
        QVERIFY(!instrument->refreshTimer.isActive());
        QCOMPARE(instrument->pauseButton->toolTip(), QStringLiteral("继续显示，后台仍在接收"));
        QTest::mouseClick(instrument->pauseButton, Qt::LeftButton);
        QVERIFY(instrument->refreshTimer.isActive());

        // Hidden, the timer rests.
        instrument->hide();
        QVERIFY(!instrument->refreshTimer.isActive());
    }

    void recordsFromDocuments_data()
    {
        QTest::addColumn<QString>("kind");
        QTest::addColumn<QString>("shown");
        QTest::addColumn<QString>("pretty");
        QTest::newRow("json") << "json" << "{\"a\":1}" << "\"a\": 1";
        QTest::newRow("xml") << "xml" << "<r><v>2</v></r>" << "<v>2</v>";
    }

    void recordsFromDocuments()
    {
        QFETCH(QString, kind);
        QFETCH(QString, shown);
        QFETCH(QString, pretty);
        PageFixture fixture;
        Channel* channel = loopChannel(fixture);
        Instrument* instrument = hosted(fixture, kind, channel);
        QCOMPARE(instrument->sourceCombo->objectName(), QStringLiteral("instrumentSource"));

        send(channel, "{\"a\":1}\r\n<r><v>2</v></r>\r\n");
        QTRY_COMPARE((instrument->tick(channel), instrument->table->topLevelItemCount()), 1);
        QTreeWidgetItem* row = instrument->table->topLevelItem(0);
        QCOMPARE(row->text(1), kind.toUpper());
        QCOMPARE(row->text(2), QStringLiteral("default"));
        QCOMPARE(row->text(3), shown);
        QCOMPARE(row->text(0).size(), 12);
        QCOMPARE(RecordTable::recordOf(row).value(QStringLiteral("format")).toString(), kind);
        QCOMPARE(instrument->table->currentItem(), row);
        QVERIFY(instrument->detail->toPlainText().contains(pretty));
        QCOMPARE(instrument->statusLabel->text(), QStringLiteral("1 条解析记录 · 原始报文仍保留在收发页"));
        // Both formats advanced the cursor, the other one shown nowhere.
        QVERIFY(instrument->recordCursors.value(QStringLiteral("default")).toInteger() >= 2);

        // A filter that refuses the row hides it and empties the detail.
        instrument->filterBox->setText(QStringLiteral("nothing-like-this"));
        QTRY_VERIFY(row->isHidden());
        QVERIFY(!instrument->table->currentItem() || instrument->table->currentItem()->isHidden() == false);
        QVERIFY(instrument->detail->toPlainText().isEmpty());
        instrument->filterBox->setText(QString());
        QTRY_VERIFY(!row->isHidden());
        QCOMPARE(instrument->table->currentItem(), row);

        // Cleared records never come back; new ones do.
        QTest::mouseClick(instrument->findChild<IconButton*>(QStringLiteral("clearInstrumentDisplay")), Qt::LeftButton);
        QCOMPARE(instrument->table->topLevelItemCount(), 0);
        QCOMPARE(instrument->statusLabel->text(), QStringLiteral("已清空，等待新数据"));
        instrument->tick(channel);
        QCOMPARE(instrument->table->topLevelItemCount(), 0);
        send(channel, "{\"b\":2}\r\n<s>3</s>\r\n");
        QTRY_COMPARE((instrument->tick(channel), instrument->table->topLevelItemCount()), 1);
    }

    void pausedPageOnlyRemembersTheChannel()
    {
        PageFixture fixture;
        Channel* channel = loopChannel(fixture);
        Instrument* instrument = hosted(fixture, QStringLiteral("json"));
        QTest::mouseClick(instrument->pauseButton, Qt::LeftButton);
        QCOMPARE(instrument->pauseButton->accessibleName(), QStringLiteral("继续显示，后台仍在接收"));
        send(channel, "{\"held\":1}\r\n");
        QTRY_VERIFY(!channel->sources.empty() && channel->sources.begin()->second->recordSeq == 1);
        instrument->tick(channel);
        QCOMPARE(instrument->channel.data(), channel);
        QCOMPARE(instrument->table->topLevelItemCount(), 0);

        // A record page catches up at the next tick after un-pausing.
        QTest::mouseClick(instrument->pauseButton, Qt::LeftButton);
        instrument->tick(channel);
        QCOMPARE(instrument->table->topLevelItemCount(), 1);

        // A vanished channel leaves the display as it is.
        instrument->tick(nullptr);
        QVERIFY(instrument->channel.isNull());
        QCOMPARE(instrument->table->topLevelItemCount(), 1);
    }

    void waveformTimerAndSampleLimit()
    {
        PageFixture fixture;
        Channel* channel = loopChannel(fixture);
        Instrument* instrument = hosted(fixture, QStringLiteral("waveform"), channel);
        QTRY_VERIFY(instrument->isVisible());
        QVERIFY(instrument->refreshTimer.isActive());
        QCOMPARE(instrument->refreshTimer.interval(), 16);
        QCOMPARE(instrument->refreshTimer.timerType(), Qt::PreciseTimer);

        send(channel, "@wave a=1\n@wave a=2\n@wave bad\n");
        QTRY_COMPARE(instrument->statusLabel->text(), QStringLiteral("2 个采样    1 条曲线    格式错误 1 帧"));
        instrument->pointsBox->setValue(2000);
        QCOMPARE(instrument->plot->sampleLimit(), 2000);

        // Un-pausing while hidden leaves the timer stopped until the next show.
        instrument->pauseButton->setChecked(true);
        instrument->hide();
        instrument->pauseButton->setChecked(false);
        QVERIFY(!instrument->refreshTimer.isActive());
        instrument->show();
        QVERIFY(instrument->refreshTimer.isActive());

        // Switching channel resets the display.
        instrument->bind(nullptr);
        QCOMPARE(instrument->plot->curves().size(), 0);
        QCOMPARE(instrument->statusLabel->text(), QStringLiteral("等待数据来源连接"));
    }

    void appearanceReachesDataWidgets()
    {
        PageFixture fixture;
        Instrument* instrument = hosted(fixture, QStringLiteral("xml"));
        Theme theme = fixture.window->theme;
        theme.accent = QColor(1, 2, 3);
        QFont font(QStringLiteral("Monospace"));
        font.setPointSize(17);
        instrument->applyAppearance(theme, font);
        QCOMPARE(instrument->table->font().pointSize(), 17);
        QVERIFY(instrument->detail->styleSheet().contains(QStringLiteral("font-size: 17pt")));
        QCOMPARE(instrument->pauseButton->theme.accent, QColor(1, 2, 3));
    }

    void recordTableKeepsTheNewestRows()
    {
        RecordTable table;
        SearchFilter none;
        for (int n = 0; n < 250; ++n) {
            const QString text = QStringLiteral("{\"n\":%1}").arg(n) + QString(300, QLatin1Char(' '));
            table.append(QJsonObject{{QStringLiteral("text"), text}, {QStringLiteral("format"), QStringLiteral("json")},
                                     {QStringLiteral("time"), QStringLiteral("2026-01-01T10:11:12.345Z")}},
                         QStringLiteral("default"), none);
        }
        QCOMPARE(table.topLevelItemCount(), RecordTable::MaxRows);
        QVERIFY(table.topLevelItem(0)->text(3).startsWith(QStringLiteral("{\"n\":50}")));
        QCOMPARE(table.topLevelItem(0)->text(3).size(), RecordTable::MaxText);
        QCOMPARE(table.topLevelItem(0)->text(0), QStringLiteral("10:11:12.345"));
        QCOMPARE(table.currentItem(), table.topLevelItem(RecordTable::MaxRows - 1));
    }

    void jsonAssistantOpensWithCurrentRecord()
    {
        PageFixture fixture;
        Channel* channel = loopChannel(fixture);
        Instrument* instrument = hosted(fixture, QStringLiteral("json"), channel);
        send(channel, "{\"k\":\"<b>device</b>\"}\r\n");
        QTRY_COMPARE((instrument->tick(channel), instrument->table->topLevelItemCount()), 1);
        QTest::mouseClick(instrument->findChild<QPushButton*>(QStringLiteral("jsonAssistant")), Qt::LeftButton);
        QDialog* assistant = instrument->findChild<QDialog*>();
        QVERIFY(assistant);
        QTRY_VERIFY(assistant->isVisible());
        bool shown = false;
        for (QPlainTextEdit* editor : assistant->findChildren<QPlainTextEdit*>())
            shown = shown || editor->toPlainText().contains(QStringLiteral("<b>device</b>"));
        QVERIFY(shown);
        assistant->close();
    }

    void jsonAssistantWithoutRecordStartsEmpty()
    {
        PageFixture fixture;
        Instrument* instrument = hosted(fixture, QStringLiteral("json"));
        QTest::mouseClick(instrument->findChild<QPushButton*>(QStringLiteral("jsonAssistant")), Qt::LeftButton);
        QDialog* assistant = instrument->findChild<QDialog*>();
        QVERIFY(assistant);
        QTRY_VERIFY(assistant->isVisible());
        for (QPlainTextEdit* editor : assistant->findChildren<QPlainTextEdit*>()) {
            if (!editor->isReadOnly())
                QVERIFY(editor->toPlainText().isEmpty());
        }
        assistant->close();
    }

    void valuesTableUpdatesRowsInPlace()
    {
        PageFixture fixture;
        Channel* channel = loopChannel(fixture);
        Instrument* instrument = hosted(fixture, QStringLiteral("waveform"), channel);
        instrument->valuesToggle->setChecked(true);
        QTreeWidget* table = instrument->table;

        send(channel, "@wave b=2,a=0.30000000000000004,c=-1.25e-3\n");
        QTRY_COMPARE((instrument->tick(channel), table->topLevelItemCount()), 3);
        QCOMPARE(columnTexts(table, 0), (QStringList{"a", "b", "c"}));
        QCOMPARE(columnTexts(table, 1), (QStringList{"0.30000000000000004", "2", "-0.00125"}));
        QCOMPARE(table->topLevelItem(0)->toolTip(0), QStringLiteral("a"));
        QCOMPARE(table->topLevelItem(0)->toolTip(1),
                 QStringLiteral("0.30000000000000004\n来源：本连接\n采样序号：%1").arg(table->topLevelItem(0)->text(3)));
        QTreeWidgetItem* first = table->topLevelItem(0);
        table->setCurrentItem(table->topLevelItem(1));

        // A variable gone from the newest sample: rows rewritten in place, the last removed.
        send(channel, "@wave a=5,c=7\n");
        QTRY_COMPARE((instrument->tick(channel), table->topLevelItemCount()), 2);
        QCOMPARE(table->topLevelItem(0), first);
        QCOMPARE(columnTexts(table, 0), (QStringList{"a", "c"}));
        QCOMPARE(columnTexts(table, 1), (QStringList{"5", "7"}));
        QCOMPARE(table->currentItem(), table->topLevelItem(1));

        // Nothing new: the snapshot spares the table any work.
        const QJsonObject snapshot = instrument->valueSnapshot;
        table->topLevelItem(0)->setText(1, QStringLiteral("untouched"));
        instrument->tick(channel);
        QCOMPARE(instrument->valueSnapshot, snapshot);
        QCOMPARE(table->topLevelItem(0)->text(1), QStringLiteral("untouched"));

        // After a clear, old samples stay away until a newer one arrives.
        instrument->clearDisplay();
        instrument->tick(channel);
        QCOMPARE(table->topLevelItemCount(), 0);
        send(channel, "@wave a=9\n");
        QTRY_COMPARE((instrument->tick(channel), table->topLevelItemCount()), 1);
        QCOMPARE(table->topLevelItem(0)->text(1), QStringLiteral("9"));
    }

    void valuesTableOrdersSourcesAndLabels()
    {
        WavePlot plot;
        ValuesTable table;
        const auto sample = [](qint64 index, const QJsonObject& values) {
            return QJsonObject{{QStringLiteral("samples"), QJsonArray{QJsonObject{{QStringLiteral("index"), index},
                                                                                  {QStringLiteral("values"), values}}}}};
        };
        const QJsonObject sources{
            {QStringLiteral("default"), sample(4, {{QStringLiteral("a"), 1}, {QStringLiteral("b"), 2}})},
            {QStringLiteral("10.0.0.1:7"), sample(9, {{QStringLiteral("a"), 3}, {QStringLiteral("b"), 4}})},
        };
        table.fill(sources, plot);
        QCOMPARE(columnTexts(&table, 0), (QStringList{plot.curveLabel(QStringLiteral("10.0.0.1:7/a")),
                                                      plot.curveLabel(QStringLiteral("10.0.0.1:7/b")), "a", "b"}));
        QCOMPARE(columnTexts(&table, 2), (QStringList{"10.0.0.1:7", "10.0.0.1:7", "本连接", "本连接"}));
        QCOMPARE(columnTexts(&table, 3), (QStringList{"9", "9", "4", "4"}));
        QVERIFY(table.isColumnHidden(2) && table.isColumnHidden(3));
    }

    void formatHelpOpens()
    {
        PageFixture fixture;
        Instrument* instrument = hosted(fixture, QStringLiteral("waveform"));
        QPushButton* help = instrument->formatHelpButton;
        QCOMPARE(help->text(), QStringLiteral("数据格式"));
        QTest::mouseClick(help, Qt::LeftButton);
        QTRY_COMPARE(helpDialogs().size(), 1);
        QTest::mouseClick(help, Qt::LeftButton);
        QTRY_COMPARE(helpDialogs().size(), 2);

        QDialog* dialog = helpDialogs().constFirst();
        QCOMPARE(dialog->windowTitle(), QStringLiteral("数值报文格式"));
        QVERIFY(!dialog->isModal());
        QCOMPARE(dialog->parentWidget(), fixture.window.get());
        dialog->resize(100, 100);
        QVERIFY(dialog->width() >= 360 && dialog->height() >= 240);

        auto* browser = dialog->findChild<QTextBrowser*>();
        QVERIFY(browser);
        const QString text = browser->toPlainText();
        QVERIFY(text.contains(QStringLiteral("@wave count=120,temperature=25.50,voltage=3.300")));
        QVERIFY(text.contains(QStringLiteral("printf(\"@wave count=%d,temperature=%.2f,voltage=%.3f\\r\\n\",\n"
                                             "       count, (double)temperature, (double)voltage);")));
        // Outside the headings, the bold run covers exactly "@wave 加一个空格".
        QString bold;
        for (QTextBlock block = browser->document()->begin(); block.isValid(); block = block.next()) {
            if (block.blockFormat().headingLevel() > 0)
                continue;
            for (auto it = block.begin(); !it.atEnd(); ++it) {
                if (it.fragment().charFormat().fontWeight() >= QFont::Bold)
                    bold += it.fragment().text();
            }
        }
        QCOMPARE(bold, QStringLiteral("@wave 加一个空格"));

        QTest::mouseClick(dialog->findChild<QPushButton*>(QStringLiteral("waveFormatClose")), Qt::LeftButton);
        QTRY_COMPARE(helpDialogs().size(), 1);
        helpDialogs().constFirst()->close();
    }

    void settingsRoundTrip_data()
    {
        QTest::addColumn<QString>("kind");
        QTest::newRow("waveform") << "waveform";
        QTest::newRow("json") << "json";
        QTest::newRow("xml") << "xml";
        QTest::newRow("control") << "control";
    }

    void settingsRoundTrip()
    {
        QFETCH(QString, kind);
        PageFixture fixture;
        Instrument* first = hosted(fixture, kind);
        if (first->pauseButton)
            first->pauseButton->setChecked(true);
        if (first->filterBox)
            first->filterBox->setText(QStringLiteral("temp"));
        if (first->pointsBox) {
            first->pointsBox->setValue(2500);
            first->xAxisBox->setChecked(false);
            first->valuesSizes = {700, 300};
        }
        const QJsonObject saved = first->settings();
        QCOMPARE(saved.value(QStringLiteral("kind")).toString(), kind);
        QCOMPARE(saved.contains(QStringLiteral("frozen")), kind != QLatin1String("control"));
        QCOMPARE(saved.contains(QStringLiteral("serial_controls")), kind == QLatin1String("control"));
        QCOMPARE(saved.contains(QStringLiteral("search_filter")), first->showsRecords());
        QCOMPARE(saved.contains(QStringLiteral("values_sizes")), kind == QLatin1String("waveform"));

        Instrument* second = hosted(fixture, kind);
        second->restore(saved);
        QCOMPARE(second->settings(), saved);
        if (second->pointsBox) {
            QCOMPARE(second->plot->xAxisShown(), false);
            QCOMPARE(second->valuesSizes, (QList<int>{700, 300}));
        }
    }

    void lenientRestore()
    {
        PageFixture fixture;
        Instrument* instrument = hosted(fixture, QStringLiteral("waveform"));
        instrument->restore(QJsonObject{{QStringLiteral("points"), QStringLiteral("many")},
                                        {QStringLiteral("x_axis"), 3},
                                        {QStringLiteral("values_sizes"), QJsonArray{0, 300}},
                                        {QStringLiteral("show_values"), true}});
        QCOMPARE(instrument->pointsBox->value(), 1000);
        QVERIFY(instrument->xAxisBox->isChecked());
        QCOMPARE(instrument->valuesSizes, (QList<int>{760, 320}));
        QVERIFY(instrument->valuesToggle->isChecked());
        instrument->restore(QJsonObject{{QStringLiteral("points"), 20}});
        QCOMPARE(instrument->pointsBox->value(), 100);
        QVERIFY(!instrument->valuesToggle->isChecked());
    }

    void sourceListsPerKind()
    {
        PageFixture fixture;
        fixture.engine.waveformDemo();
        fixture.engine.structuredDemo();
        Instrument* records = hosted(fixture, QStringLiteral("json"));
        records->refreshSource();
        QVERIFY(records->sourceCombo->findData(Config::structuredDemo().key()) > 0);
        QCOMPARE(records->sourceCombo->findData(Config::waveformDemo().key()), -1);
        QCOMPARE(records->sourceCombo->itemText(0), QStringLiteral("选择数据来源"));

        Instrument* control = hosted(fixture, QStringLiteral("control"));
        control->refreshSource();
        QCOMPARE(control->sourceCombo->count(), 1);
        QCOMPARE(control->sourceCombo->itemText(0), QStringLiteral("选择串口连接"));
        QCOMPARE(control->sourceCombo->toolTip(), QStringLiteral("从收发页面建立连接后，在这里选择数据来源"));

        // A stored port that is absent shows no item, only the tool tip.
        Pane* page = qobject_cast<Pane*>(control->parentWidget());
        page->sourceKey = QStringLiteral("serial:/dev/no-such-port");
        control->refreshSource();
        QCOMPARE(control->sourceCombo->count(), 1);
        QCOMPARE(control->sourceCombo->toolTip(), QStringLiteral("之前选择的串口当前不可用；连接设备后可重新选择"));
        // The loopback port is always available.
        page->sourceKey = QStringLiteral("serial:loop://");
        control->refreshSource();
        QCOMPARE(control->sourceCombo->currentText(), QStringLiteral("loop:// · 未建立连接"));
        // A listed device is shown as the port list spells it, not as the key.
        page->window->lastPorts = QJsonArray{QJsonObject{{"port", "/dev/ttyACM0"}}};
        page->sourceKey = QStringLiteral("serial:/dev/ttyacm0");
        control->refreshSource();
        QCOMPARE(control->sourceCombo->currentText(), QStringLiteral("/dev/ttyACM0 · 未建立连接"));
    }
};

QTEST_MAIN(InstrumentTest)
#include "InstrumentTest.moc"
