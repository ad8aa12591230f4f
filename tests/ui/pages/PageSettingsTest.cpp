#include "PageFixture.h"

#include "core/script/FrameScriptProgram.h"
#include "ui/kit/Combo.h"
#include "ui/kit/ConnectionBar.h"
#include "ui/kit/IconButton.h"
#include "ui/pages/Instrument.h"
#include "ui/pages/ReceiveArea.h"
#include "ui/plot/WavePlot.h"
#include "ui/pages/ScriptResultsPanel.h"
#include "ui/pages/SendBar.h"
#include "ui/pages/SessionToolbar.h"
#include "ui/views/FilterBox.h"
#include "ui/views/LogView.h"
#include "ui/views/TerminalView.h"

#include <QDialog>
#include <QJsonDocument>
#include <QLabel>
#include <QPlainTextEdit>
#include <QSpinBox>

using namespace vn;
using namespace vn::test;

namespace {

QJsonObject parse(const char* json)
{
    return QJsonDocument::fromJson(json).object();
}

QJsonObject sessionGolden()
{
    return parse(R"({
    "tab_title": "Bench port",
    "timestamps": false,
    "search_filter": {"text": "ERR", "case_sensitive": true, "whole_word": false, "regex": false, "logical": false},
    "hex_display": true,
    "wrap_lines": false,
    "block_cursor": false,
    "copy_shortcut": false,
    "paste_shortcut": true,
    "right_click_paste": false,
    "encoding": "gbk",
    "script_collapsed": true,
    "script_panel_height": 300,
    "sender_sizes": [500, 220],
    "terminal_mode": true,
    "script_code": "int main(char data[], int length) { return 0; }",
    "script_test_hex": "01 02 03",
    "script_enabled": false
})");
}

} // namespace

class PageSettingsTest : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void sessionPageRoundTrip()
    {
        PageFixture fixture;
        Channel* channel = nullptr;
        Pane* page = fixture.open(loopback(), &channel);
        const QJsonObject golden = sessionGolden();
        page->restore(golden);

        QCOMPARE(page->title, QStringLiteral("Bench port"));
        QCOMPARE(fixture.window->tabs()->tabText(paneIndex(fixture.window->tabs(), page)), QStringLiteral("Bench port"));
        QVERIFY(!page->logView()->timestamps);
        QVERIFY(!page->toolbar()->timestamps->isChecked());
        QVERIFY(page->toolbar()->hexDisplay->isChecked());
        QCOMPARE(page->filterBox()->text(), QStringLiteral("ERR"));
        QCOMPARE(page->logView()->filter().text, QStringLiteral("ERR"));
        QVERIFY(!page->terminalView()->rightClickPaste);
        QCOMPARE(page->logView()->encoding, QStringLiteral("gbk"));
        QVERIFY(page->terminal);
        QCOMPARE(channel->scriptSource, golden.value("script_code").toString());
        QCOMPARE(page->settings(), golden);

        // A second page restored from the written object writes it again.
        const QJsonObject written = page->settings();
        Pane copy(fixture.window.get(), QString());
        copy.setChannel(channel);
        copy.restore(written);
        QCOMPARE(copy.settings(), golden);
    }

    void nonSerialPagesWriteNoScript()
    {
        PageFixture fixture;
        Pane page(fixture.window.get(), QString());
        page.config.kind = QStringLiteral("tcp-client");
        const QJsonObject written = page.settings();
        for (const char* key : {"script_code", "script_test_hex", "script_enabled"})
            QVERIFY2(!written.contains(QLatin1String(key)), key);
        page.config.kind = QStringLiteral("serial");
        QCOMPARE(page.settings().value("script_code").toString(), FrameScriptProgram::example());
        QCOMPARE(page.settings().value("script_test_hex").toString(),
                 QStringLiteral("AA 55 C4\n09 E4 0C BC 0D\nAA 55 C4 09 E4 0C BC 0D"));
    }

    void senderSizes_data()
    {
        QTest::addColumn<QJsonValue>("stored");
        QTest::addColumn<QList<int>>("expected");
        QTest::newRow("two sizes") << QJsonValue(QJsonArray{400, 120}) << QList<int>{400, 120};
        QTest::newRow("a zero") << QJsonValue(QJsonArray{0, 150}) << QList<int>{600, 176};
        QTest::newRow("one size") << QJsonValue(QJsonArray{600}) << QList<int>{600, 176};
        QTest::newRow("three sizes") << QJsonValue(QJsonArray{600, 150, 10}) << QList<int>{600, 176};
        QTest::newRow("not an array") << QJsonValue(QStringLiteral("600,150")) << QList<int>{600, 176};
    }

    void senderSizes()
    {
        QFETCH(QJsonValue, stored);
        QFETCH(QList<int>, expected);
        PageFixture fixture;
        Pane page(fixture.window.get(), QString());
        page.restore(QJsonObject{{"sender_sizes", stored}});
        QCOMPARE(page.senderSizes, expected);
        // In terminal mode the remembered sizes are what is written.
        page.config.kind = QStringLiteral("ssh");
        page.setTerminal(true);
        page.senderSizes = expected;
        QCOMPARE(page.settings().value("sender_sizes").toArray(), QJsonArray({expected.at(0), expected.at(1)}));
        page.senderSizes = {};
        QCOMPARE(page.settings().value("sender_sizes").toArray(), QJsonArray({600, 150}));
    }

    void lenientValues_data()
    {
        QTest::addColumn<QJsonObject>("stored");
        QTest::addColumn<int>("height");
        QTest::addColumn<QString>("encoding");
        QTest::newRow("low height") << QJsonObject{{"script_panel_height", 20}} << 96 << "utf-8";
        QTest::newRow("high height") << QJsonObject{{"script_panel_height", 5000}} << 1200 << "utf-8";
        QTest::newRow("text height") << QJsonObject{{"script_panel_height", "300"}} << 164 << "utf-8";
        QTest::newRow("unknown encoding") << QJsonObject{{"encoding", "utf-16"}} << 164 << "latin-1";
        QTest::newRow("known encoding") << QJsonObject{{"encoding", "ascii"}} << 164 << "ascii";
    }

    void lenientValues()
    {
        QFETCH(QJsonObject, stored);
        QFETCH(int, height);
        QFETCH(QString, encoding);
        PageFixture fixture;
        Pane page(fixture.window.get(), QString());
        page.sendBar()->encoding->setCurrentText(QStringLiteral("latin-1"));
        if (!stored.contains("encoding"))
            page.sendBar()->encoding->setCurrentText(QStringLiteral("utf-8"));
        page.restore(stored);
        QCOMPARE(page.scriptResults()->panelHeight, height);
        QCOMPARE(page.sendBar()->encoding->currentText(), encoding);
    }

    void titles()
    {
        PageFixture fixture;
        Pane* page = fixture.window->newConnection();
        const int index = paneIndex(fixture.window->tabs(), page);
        const QString before = fixture.window->tabs()->tabText(index);
        page->title = QStringLiteral("kept");
        page->restore(QJsonObject{});
        QCOMPARE(page->title, QStringLiteral("kept"));
        page->restore(QJsonObject{{"tab_title", "   "}});
        QCOMPARE(page->title, QString());
        QCOMPARE(fixture.window->tabs()->tabText(index), before);
    }

    void terminalRule()
    {
        PageFixture fixture;
        // Without a live channel the stored mode is not read.
        Pane unbound(fixture.window.get(), QString());
        unbound.restore(QJsonObject{{"terminal_mode", true}});
        QVERIFY(!unbound.terminal);
        unbound.config.kind = QStringLiteral("ssh");
        unbound.restore(QJsonObject{{"terminal_mode", false}});
        QVERIFY(unbound.terminal);

        Channel* channel = fixture.engine.open(loopback());
        Pane live(fixture.window.get(), QString());
        live.setChannel(channel);
        live.restore(QJsonObject{{"terminal_mode", true}});
        QVERIFY(live.terminal);
        QVERIFY(live.terminalPreference);
    }

    void brokenScriptIsDisabledAndShown()
    {
        PageFixture fixture;
        Pane page(fixture.window.get(), QString());
        page.restore(QJsonObject{{"script_code", "int main( {"}, {"script_enabled", true}});
        QVERIFY(!page.scriptEnabled);
        QCOMPARE(page.scriptCode, QStringLiteral("int main( {"));
        QVERIFY(fixture.statusMessage().startsWith(QStringLiteral("操作失败：第 1 行：")));
        // A page that is not serial drops the flag.
        Pane tcp(fixture.window.get(), QString());
        tcp.config.kind = QStringLiteral("tcp-client");
        tcp.scriptEnabled = true;
        tcp.restore(QJsonObject{{"script_code", "x"}, {"script_enabled", true}});
        QVERIFY(!tcp.scriptEnabled);
    }

    void refusedStoredScriptStaysInThePage()
    {
        PageFixture fixture;
        // It does not compile: main must be void.
        const QString stored = QStringLiteral("int main(char data[], int length) { return 0; }");
        const QString key = loopback().key();
        fixture.window->views.insert(key, QJsonObject{{"script_code", stored}, {"script_enabled", true}});
        Channel* channel = nullptr;
        Pane* page = fixture.open(loopback(), &channel);
        QVERIFY(fixture.statusMessage().startsWith(QStringLiteral("操作失败：第 1 行：")));

        // Ticks do not bring the channel's former script back over the text.
        for (int i = 0; i < 3; ++i)
            page->tick(true);
        QCOMPARE(page->scriptCode, stored);
        QVERIFY(!page->scriptEnabled);
        QVERIFY(!channel->scriptEnabled);
        QCOMPARE(channel->scriptSource, stored);
        // The error stands where the page shows script errors.
        QVERIFY(page->scriptResults()->isVisibleTo(page));
        QVERIFY(page->scriptResults()->status->text().startsWith(QStringLiteral("已停用 · 第 1 行：")));
        // The editor opens on the text, and the workspace keeps it.
        page->openScriptEditor(true);
        auto* editor = page->scriptEditor ? page->scriptEditor->findChild<QPlainTextEdit*>("scriptCode") : nullptr;
        QVERIFY(editor);
        QCOMPARE(editor->toPlainText(), stored);
        page->scriptEditor->close();
        fixture.window->saveSettings();
        const QJsonObject saved = fixture.window->views.value(key).toObject();
        QCOMPARE(saved.value("script_code").toString(), stored);
        QCOMPARE(saved.value("script_enabled"), QJsonValue(false));

        // A script the channel takes from elsewhere (an agent) is followed again.
        channel->configureScript(FrameScriptProgram::example(), true);
        page->tick(true);
        QCOMPARE(page->scriptCode, FrameScriptProgram::example());
        QVERIFY(page->scriptEnabled);
        QVERIFY(!page->scriptResults()->status->text().contains(QStringLiteral("第 1 行")));
    }

    void refusedScriptLeavesARunningScriptAlone()
    {
        PageFixture fixture;
        Channel* channel = nullptr;
        Pane* page = fixture.open(loopback(), &channel);
        // An agent set a working script before the page's stored one came back.
        channel->configureScript(FrameScriptProgram::example(), true);
        const QString broken = QStringLiteral("void main(const uint8_t data[], int length) { nonsense( }");
        page->restore(QJsonObject{{"script_code", broken}, {"script_enabled", true}});
        page->tick(true);
        QVERIFY(channel->scriptEnabled);
        QCOMPARE(channel->scriptSource, FrameScriptProgram::example());
        QCOMPARE(page->scriptCode, broken);
        QCOMPARE(page->settings().value("script_code").toString(), broken);
        QCOMPARE(page->settings().value("script_enabled"), QJsonValue(false));
    }

    void refusedScriptOnANewChannel_data()
    {
        QTest::addColumn<bool>("restored");
        // Restored unbound: the flag was cleared when the text did not compile.
        QTest::newRow("restored unbound") << true;
        // Still enabled when the channel comes: the channel refuses it.
        QTest::newRow("enabled at binding") << false;
    }

    void refusedScriptOnANewChannel()
    {
        QFETCH(bool, restored);
        PageFixture fixture;
        const QString broken = QStringLiteral("void main(const uint8_t data[], int length) { nonsense( }");
        Pane page(fixture.window.get(), QString());
        if (restored) {
            page.restore(QJsonObject{{"script_code", broken}, {"script_enabled", true}});
        } else {
            page.scriptCode = broken;
            page.scriptEnabled = true;
        }
        fixture.window->statusBar()->clearMessage();
        Channel* channel = fixture.engine.open(loopback());
        page.setChannel(channel);
        QVERIFY(fixture.statusMessage().startsWith(QStringLiteral("操作失败：第 1 行：")));
        page.tick(true);
        QCOMPARE(page.scriptCode, broken);
        QVERIFY(!page.scriptEnabled);
        QCOMPARE(page.settings().value("script_code").toString(), broken);
        QCOMPARE(page.settings().value("script_enabled"), QJsonValue(false));
    }

    void controlPageRoundTrip()
    {
        PageFixture fixture;
        Pane* page = fixture.window->newInstrument(QStringLiteral("waveform"), nullptr, false, QString());
        QVERIFY(page);
        QJsonObject golden = parse(R"({
            "kind": "waveform",
            "frozen": true,
            "points": 2000,
            "x_axis": false,
            "y_axis": true,
            "values_sizes": [700, 300],
            "show_values": true,
            "source_key": "tcp-client:127.0.0.1:9000:127.0.0.1:9001",
            "title": "Temperatures"
        })");
        // The presentation is the plot's own JSON; a changed axis title travels through it.
        QJsonObject presentation = page->instrument()->plot->presentationSettings();
        presentation.insert(QStringLiteral("x_title"), QStringLiteral("时间"));
        golden.insert(QStringLiteral("wave_presentation"), presentation);
        page->restore(golden);
        QCOMPARE(page->title, QStringLiteral("Temperatures"));
        QCOMPARE(page->settings(), golden);
        QVERIFY(page->instrument()->pauseButton->isChecked());
        QCOMPARE(page->instrument()->pointsBox->value(), 2000);
    }

    void controlSourceRule_data()
    {
        QTest::addColumn<QString>("kind");
        QTest::addColumn<QString>("stored");
        QTest::addColumn<QString>("restored");
        const QString waveform = Config::waveformDemo().key();
        const QString structured = Config::structuredDemo().key();
        QTest::newRow("panel keeps a serial key") << "control" << "serial:loop://" << "serial:loop://";
        QTest::newRow("panel drops a TCP key") << "control" << "tcp-client:127.0.0.1:9000:127.0.0.1:9001" << "";
        QTest::newRow("json moves to the structured demo") << "json" << waveform << structured;
        QTest::newRow("xml keeps the structured demo") << "xml" << structured << structured;
        QTest::newRow("waveform keeps its demo") << "waveform" << waveform << waveform;
    }

    void controlSourceRule()
    {
        QFETCH(QString, kind);
        QFETCH(QString, stored);
        QFETCH(QString, restored);
        PageFixture fixture;
        Pane* page = fixture.window->newInstrument(kind, nullptr, false, QString());
        QVERIFY(page);
        page->restore(QJsonObject{{"kind", kind}, {"source_key", stored}});
        QCOMPARE(page->sourceKey, restored);
        QCOMPARE(page->settings().value("source_key").toString(), restored);
        if (restored.startsWith(QLatin1String("demo:"))) {
            // The demo was opened and the page follows it.
            QVERIFY(page->channel);
            QCOMPARE(page->channel->config.key(), restored);
        }
    }
};

QTEST_MAIN(PageSettingsTest)
#include "PageSettingsTest.moc"
