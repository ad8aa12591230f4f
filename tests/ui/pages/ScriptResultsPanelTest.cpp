#include "PageFixture.h"

#include "ui/kit/IconButton.h"
#include "ui/pages/ScriptResultsPanel.h"
#include "ui/pages/SendBar.h"

#include "core/script/ScriptError.h"

#include <QAction>
#include <QDialog>
#include <QFile>
#include <QJsonDocument>
#include <QClipboard>
#include <QLabel>
#include <QPlainTextEdit>
#include <QSplitter>
#include <QTreeWidget>

using namespace vn;
using namespace vn::test;

namespace {

// One frame of the example script: 温度 25, 电压 3.3.
const QByteArray Frame = QByteArray::fromHex("AA55C409E40CBC0D");

Channel* scriptedLoopback(PageFixture& fixture, Pane** page)
{
    Channel* channel = nullptr;
    *page = fixture.open(loopback(), &channel);
    (*page)->applyScript((*page)->scriptCode, true);
    return channel;
}

qint64 recordsHeld(const Channel* channel)
{
    qint64 count = 0;
    for (const auto& [peer, source] : channel->sources)
        count += source ? source->scriptSeq : 0;
    return count;
}

} // namespace

class ScriptResultsPanelTest : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void rowTexts()
    {
        QCOMPARE(ScriptResultsPanel::timeOfDay(QStringLiteral("2026-12-10T15:53:13.123Z")), QStringLiteral("15:53:13.123"));
        const QJsonObject value{{"b", 1.5}, {"a", 25}, {"c", 1e-12}, {"d", 123456789012.0}};
        QCOMPARE(ScriptResultsPanel::fieldsText(value),
                 QStringLiteral("a = 25    b = 1.5    c = 1e-12    d = 1.23456789e+11"));
    }

    void panelSizes_data()
    {
        QTest::addColumn<int>("space");
        QTest::addColumn<int>("remembered");
        QTest::addColumn<bool>("collapsed");
        QTest::addColumn<QList<int>>("sizes");
        QTest::newRow("expanded, room") << 500 << 400 << false << QList<int>{250, 250};
        QTest::newRow("expanded, small") << 150 << 164 << false << QList<int>{84, 96};
        QTest::newRow("expanded, ample") << 800 << 164 << false << QList<int>{636, 164};
        QTest::newRow("collapsed, small") << 150 << 164 << true << QList<int>{148, 32};
        QTest::newRow("collapsed, room") << 500 << 164 << true << QList<int>{468, 32};
    }

    void panelSizes()
    {
        QFETCH(int, space);
        QFETCH(int, remembered);
        QFETCH(bool, collapsed);
        QFETCH(QList<int>, sizes);
        QCOMPARE(ScriptResultsPanel::splitSizes(space, remembered, collapsed), sizes);

        // The panel applies them to its splitter and follows the state.
        QSplitter splitter(Qt::Vertical);
        splitter.addWidget(new QWidget);
        auto* panel = new ScriptResultsPanel(&splitter);
        splitter.addWidget(panel);
        panel->show();
        panel->collapsed = collapsed;
        panel->resizePanel();
        QCOMPARE(panel->tree->isHidden(), collapsed);
        QCOMPARE(panel->minimumHeight(), collapsed ? 32 : 96);
        QCOMPARE(panel->collapseButton->toolTip(), collapsed ? QStringLiteral("展开脚本结果") : QStringLiteral("收起脚本结果"));
    }

    void framesBecomeRowsAndClear()
    {
        PageFixture fixture;
        Pane* page = nullptr;
        Channel* channel = scriptedLoopback(fixture, &page);
        ScriptResultsPanel* panel = page->scriptResults();
        channel->send(Frame, QString(), QStringLiteral("gui"));
        QTRY_COMPARE(panel->tree->topLevelItemCount(), 1);
        QVERIFY(!panel->isHidden());
        QTreeWidgetItem* row = panel->tree->topLevelItem(0);
        QCOMPARE(row->text(1), QStringLiteral("温度 = 25    电压 = 3.3"));
        QCOMPARE(row->text(0).size(), 12);
        QCOMPARE(panel->status->text(), QStringLiteral("1 条结果"));

        // Copy the selected row's record text.
        row->setSelected(true);
        panel->tree->findChild<QAction*>(QStringLiteral("copyScriptResults"))->trigger();
        QCOMPARE(QApplication::clipboard()->text(),
                 row->data(0, Qt::UserRole).toJsonObject().value("text").toString());

        QTest::mouseClick(panel->clearButton, Qt::LeftButton);
        QCOMPARE(panel->tree->topLevelItemCount(), 0);
        QCOMPARE(panel->status->text(), QStringLiteral("0 条结果"));
        channel->send(Frame, QString(), QStringLiteral("gui"));
        QTRY_COMPARE(panel->tree->topLevelItemCount(), 1);
        QCOMPARE(recordsHeld(channel), 2);
    }

    void twoHundredRowsAtMost()
    {
        PageFixture fixture;
        Pane* page = nullptr;
        Channel* channel = scriptedLoopback(fixture, &page);
        fixture.window->findChild<QTimer*>(QStringLiteral("tickTimer"))->stop();
        channel->send(Frame.repeated(250), QString(), QStringLiteral("gui"));
        QTRY_COMPARE(recordsHeld(channel), 250);
        ScriptResultsPanel* panel = page->scriptResults();
        page->refreshScriptResults();
        QCOMPARE(panel->tree->topLevelItemCount(), 200);
        const qint64 firstSeq = panel->tree->topLevelItem(0)->data(0, Qt::UserRole).toJsonObject().value("seq").toInteger();
        page->refreshScriptResults();
        QCOMPARE(panel->tree->topLevelItemCount(), 200);
        QCOMPARE(panel->tree->topLevelItem(0)->data(0, Qt::UserRole).toJsonObject().value("seq").toInteger(), firstSeq + 50);
        QCOMPARE(panel->tree->topLevelItem(199)->data(0, Qt::UserRole).toJsonObject().value("seq").toInteger(), 250);
    }

    void pausedKeepsItsCursor()
    {
        PageFixture fixture;
        Pane* page = nullptr;
        Channel* channel = scriptedLoopback(fixture, &page);
        auto* pause = page->findChild<IconButton*>(QStringLiteral("pauseDisplay"));
        pause->setChecked(true);
        channel->send(Frame, QString(), QStringLiteral("gui"));
        QTRY_COMPARE(recordsHeld(channel), 1);
        page->tick(true);
        QCOMPARE(page->scriptResults()->tree->topLevelItemCount(), 0);
        pause->setChecked(false);
        page->tick(true);
        QCOMPARE(page->scriptResults()->tree->topLevelItemCount(), 1);
    }

    void visibilityAndStatus()
    {
        PageFixture fixture;
        // Not serial: never shown, even with a stored flag.
        Pane tcp(fixture.window.get(), QString());
        tcp.config.kind = QStringLiteral("tcp-client");
        tcp.scriptEnabled = true;
        tcp.refreshScriptResults();
        QVERIFY(tcp.scriptResults()->isHidden());

        // Serial without a channel, stored enabled: shown, waiting for a connection.
        Pane serial(fixture.window.get(), QString());
        serial.scriptEnabled = true;
        serial.refreshScriptResults();
        QVERIFY(!serial.scriptResults()->isHidden());
        QCOMPARE(serial.scriptResults()->status->text(), QStringLiteral("连接后开始解析"));

        // A failed script shows its error.
        Pane* page = nullptr;
        Channel* channel = scriptedLoopback(fixture, &page);
        channel->scriptError = QStringLiteral("第 3 行：除数为零");
        page->refreshScriptResults();
        QCOMPARE(page->scriptResults()->status->text(), QStringLiteral("已停用 · 第 3 行：除数为零"));
        QCOMPARE(page->scriptResults()->status->toolTip(), QStringLiteral("第 3 行：除数为零"));
    }

    void collapseIsSaved()
    {
        PageFixture fixture;
        Pane* page = nullptr;
        Channel* channel = scriptedLoopback(fixture, &page);
        ScriptResultsPanel* panel = page->scriptResults();
        QTRY_VERIFY(!panel->isHidden());
        QTest::mouseClick(panel->collapseButton, Qt::LeftButton);
        QVERIFY(panel->collapsed);
        QVERIFY(panel->tree->isHidden());
        QCOMPARE(panel->collapseButton->iconName(), QStringLiteral("scriptExpand"));
        QFile file(fixture.window->settingsPath);
        QVERIFY(file.open(QIODevice::ReadOnly));
        const QJsonObject views = QJsonDocument::fromJson(file.readAll()).object().value("views").toObject();
        QCOMPARE(views.value(channel->config.key()).toObject().value("script_collapsed"), QJsonValue(true));
    }

    void scriptEditorOpensOnce()
    {
        PageFixture fixture;
        Pane* page = nullptr;
        scriptedLoopback(fixture, &page);
        page->openScriptEditor(true);
        QDialog* editor = page->scriptEditor.data();
        QVERIFY(editor);
        QTRY_VERIFY(editor->isVisible());
        page->openScriptEditor(true);
        QCOMPARE(page->scriptEditor.data(), editor);
        editor->close();
        QTRY_VERIFY(!page->scriptEditor);

        Pane tcp(fixture.window.get(), QString());
        tcp.config.kind = QStringLiteral("tcp-client");
        tcp.openScriptEditor(true);
        QVERIFY(!tcp.scriptEditor);
    }

    void applyScriptRules()
    {
        PageFixture fixture;
        Pane tcp(fixture.window.get(), QString());
        tcp.config.kind = QStringLiteral("udp");
        QVERIFY(!tcp.supportsScript());
        try {
            tcp.applyScript(QStringLiteral("x"), true);
            QFAIL("a page that is not serial takes no script");
        } catch (const ScriptError& error) {
            QCOMPARE(error.display(), QStringLiteral("脚本解析仅适用于串口会话"));
        }
        Pane serial(fixture.window.get(), QString());
        const QString before = serial.scriptCode;
        QVERIFY_THROWS_EXCEPTION(ScriptError, serial.applyScript(QStringLiteral("int main( {"), true));
        QCOMPARE(serial.scriptCode, before);
        QVERIFY(!serial.scriptEnabled);
    }
};

QTEST_MAIN(ScriptResultsPanelTest)
#include "ScriptResultsPanelTest.moc"
