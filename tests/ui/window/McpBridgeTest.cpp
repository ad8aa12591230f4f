// The GUI services the root window lends the MCP server: search in the views
// the user sees, the trial-parse samples and frame scripts applied through the
// pages and their editors, and the page shown for an agent's new connection.
// Every call goes through HTTP to the real server.

#include "core/Channel.h"
#include "core/Engine.h"
#include "mcp/McpServer.h"
#include "tests/mcp/HttpClient.h"
#include "tests/support/TestSupport.h"
#include "tests/ui/agents/AgentFixtures.h"
#include "ui/controls/SerialControlPanel.h"
#include "ui/controls/SerialMonitorDialog.h"
#include "tests/ui/window/WorkspaceFixture.h"
#include "ui/pages/Pane.h"
#include "ui/pages/ScriptResultsPanel.h"
#include "ui/script/ScriptEditor.h"
#include "ui/views/FilterBox.h"
#include "ui/views/LogLines.h"
#include "ui/views/LogView.h"
#include "ui/kit/ConnectionBar.h"
#include "ui/pages/Instrument.h"
#include "ui/window/Window.h"

#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QLayout>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QStatusBar>
#include <QTest>
#include <QTextDocument>
#include <QTreeWidget>

#include <memory>

using namespace vn;

namespace {

const QString NotFound = QStringLiteral("view_id 不属于该连接或页面已关闭；先 list_search_views。交互终端请使用 read_events。");
const QString Range = QStringLiteral("offset 范围 0..4000，limit 范围 1..200");
const QString WithSnapshot = QStringLiteral("更新 filter 时不要传旧 snapshot；先更新搜索，再使用返回的 snapshot 分页");
const QString Changed = QStringLiteral("显示内容已变化，请从 offset=0 重新搜索");
const QString Gone = QStringLiteral("GUI 窗口已关闭");
const QString NewCode = QStringLiteral("void main(const uint8_t d[], int n) {}\n");

// One answer of a tool: its structured result, or its error text.
struct Answer {
    bool failed = false;
    QString error;
    QJsonObject result;
};

} // namespace

class McpBridgeTest : public QObject {
    Q_OBJECT

    std::unique_ptr<test::WorkspaceFixture> desk;
    Window* window = nullptr;
    QPointer<Pane> page;
    Channel* channel = nullptr;
    quint16 port = 0;
    QString session;

    Answer call(const QString& tool, QJsonObject arguments = {})
    {
        if (!arguments.contains("channel_id") && channel)
            arguments.insert("channel_id", channel->id);
        const QJsonObject reply = test::callTool(port, session, tool, arguments);
        const QJsonObject result = reply.value("result").toObject();
        Answer answer;
        answer.failed = result.value("isError").toBool();
        if (answer.failed)
            answer.error = result.value("content").toArray().first().toObject().value("text").toString();
        answer.result = result.value("structuredContent").toObject();
        return answer;
    }

    QJsonObject search(const QJsonObject& arguments = {})
    {
        QJsonObject full = arguments;
        full.insert("view_id", page->id);
        const Answer answer = call("search_logs", full);
        if (answer.failed)
            qWarning() << answer.error;
        return answer.result;
    }

    QString searchError(const QJsonObject& arguments)
    {
        QJsonObject full = arguments;
        if (!full.contains("view_id"))
            full.insert("view_id", page->id);
        return call("search_logs", full).error;
    }

    void receiveLines(const QStringList& lines)
    {
        for (const QString& line : lines)
            channel->receive(line.toUtf8() + "\n", QString());
    }

    QString revision()
    {
        return call("get_frame_script").result.value("revision").toString();
    }

private Q_SLOTS:
    void init()
    {
        desk = std::make_unique<test::WorkspaceFixture>();
        // Listening before the window exists keeps the start-up agent check
        // (on portChanged) away from this user's agent tools.
        QVERIFY(desk->server.start(0));
        port = desk->server.serverPort();
        window = desk->open();
        Config config;
        config.port = QStringLiteral("loop://");
        channel = desk->engine.open(config);
        QTRY_COMPARE(channel->state, QStringLiteral("connected"));
        page = window->findPane(channel);
        if (!page) {
            page = window->pages.first();
            page->setChannel(channel);
        }
        // The log starts empty: only the lines a case receives are rows.
        page->tick(true);
        page->clearView();
        session = test::initialize(port);
        QVERIFY(!session.isEmpty());
    }

    void cleanup()
    {
        desk.reset();
        channel = nullptr;
    }

    // --- Views ---------------------------------------------------------------

    void listsThePageLog()
    {
        const Answer answer = call("list_search_views");
        QVERIFY2(!answer.failed, qPrintable(answer.error));
        QCOMPARE(answer.result.value("channel_id").toString(), channel->id);
        QCOMPARE(answer.result.value("scope").toString(), QStringLiteral("gui_display"));
        const QJsonArray views = answer.result.value("views").toArray();
        QCOMPARE(views.size(), 1);
        const QJsonObject view = views.first().toObject();
        QCOMPARE(view.value("view_id").toString(), page->id);
        QCOMPARE(view.value("kind").toString(), QStringLiteral("log"));
        QCOMPARE(view.value("filter").toObject(), page->filterBox()->filter.settings());
        QCOMPARE(view.value("error").toString(), QString());
    }

    void terminalPageOffersNoLog()
    {
        page->terminalPreference = true;
        page->setTerminal(true);
        QCOMPARE(call("list_search_views").result.value("views").toArray().size(), 0);
        QCOMPARE(searchError({}), NotFound);
        QCOMPARE(searchError({{"view_id", "0123"}}), NotFound);
        QCOMPARE(searchError({{"view_id", ""}}), NotFound);
    }

    // The instrument of a new control page of that kind, bound to the channel.
    Instrument* controlPage(const QString& kind)
    {
        Pane* control = window->newInstrument(kind, nullptr, true, QString());
        if (!control)
            return nullptr;
        Instrument* instrument = control->instrument();
        if (!instrument) {
            // A page that does not host its instrument itself yet still gets one.
            instrument = new Instrument(control, kind, control);
            control->layout()->addWidget(instrument);
        }
        control->setChannel(channel);
        instrument->bind(channel);
        return instrument;
    }

    void controlPageViews()
    {
        channel->configureParser(QStringLiteral("auto"), QStringLiteral("utf-8"));
        // A page saved under the older name lists the current kind.
        Instrument* records = controlPage(QStringLiteral("structured"));
        Instrument* control = controlPage(QStringLiteral("control"));
        QVERIFY(records && control && control->panel);
        auto* recordsPage = qobject_cast<Pane*>(records->parentWidget());
        QVERIFY(recordsPage);
        control->panel->showMonitor(true);
        SerialMonitorDialog* monitor = control->panel->receiveMonitor();
        QVERIFY(monitor);
        QCOMPARE(monitor->channelId, channel->id);

        const QJsonArray views = call("list_search_views").result.value("views").toArray();
        QCOMPARE(views.size(), 3);
        QCOMPARE(views.at(0).toObject().value("kind").toString(), QStringLiteral("log"));
        QCOMPARE(views.at(1).toObject().value("kind").toString(), QStringLiteral("json"));
        QCOMPARE(views.at(1).toObject().value("view_id").toString(), recordsPage->id);
        QCOMPARE(views.at(2).toObject().value("kind").toString(), QStringLiteral("serial-monitor"));
        QCOMPARE(views.at(2).toObject().value("title").toString(), QStringLiteral("串口收发小窗"));
        QCOMPARE(views.at(2).toObject().value("view_id").toString(), monitor->viewId);

        // Records decoded since the last tick are rows at once; the filter an
        // agent sets hides the others in the instrument's table.
        receiveLines({"{\"alpha\":1}", "{\"beta\":2}"});
        QTRY_VERIFY(!channel->sources.empty() && channel->sources.begin()->second->recordSeq == 2);
        QJsonObject found = call("search_logs", {{"view_id", recordsPage->id}}).result;
        QCOMPARE(found.value("total_matches").toInt(), 2);
        const QJsonObject first = found.value("rows").toArray().first().toObject();
        QVERIFY(first.value("text").toString().contains("alpha"));
        QCOMPARE(first.value("format").toString(), QStringLiteral("json"));
        QVERIFY(first.contains("time"));
        QCOMPARE(first.value("truncated").toBool(), false);
        found = call("search_logs", {{"view_id", recordsPage->id}, {"filter", QJsonObject{{"text", "beta"}}}}).result;
        QCOMPARE(records->filterBox->text(), QStringLiteral("beta"));
        QCOMPARE(found.value("total_matches").toInt(), 1);
        QVERIFY(found.value("rows").toArray().first().toObject().value("text").toString().contains("beta"));

        found = call("search_logs", {{"view_id", monitor->viewId}, {"filter", QJsonObject{{"text", "alpha"}}}}).result;
        QCOMPARE(monitor->filterBox->text(), QStringLiteral("alpha"));
        QCOMPARE(page->filterBox()->text(), QString());
        QCOMPARE(found.value("total_matches").toInt(), 1);
        QVERIFY(found.value("rows").toArray().first().toObject().value("text").toString().contains("alpha"));

        // A monitor bound to another channel is not this channel's view.
        monitor->channelId = QStringLiteral("other");
        QCOMPARE(call("list_search_views").result.value("views").toArray().size(), 2);
    }

    void tornOffWindows()
    {
        Pane* other = window->newConnection();
        QVERIFY(other && other != page);
        QPointer<Window> torn = window->detachConnection(paneIndex(window->tabs(), page), QPoint(300, 200), false);
        QVERIFY(torn);
        QCOMPARE(page->window, torn.data());
        receiveLines({"far away"});
        const QJsonArray views = call("list_search_views").result.value("views").toArray();
        QCOMPARE(views.size(), 1);
        QCOMPARE(views.first().toObject().value("view_id").toString(), page->id);
        QCOMPARE(search({{"filter", QJsonObject{{"text", "far"}}}}).value("total_matches").toInt(), 1);
        QCOMPARE(page->filterBox()->text(), QStringLiteral("far"));

        desk->engine.allowAiControl = true;
        const Answer applied = call("set_frame_script", {{"code", NewCode}, {"enabled", false}, {"expected_revision", revision()}});
        QVERIFY2(!applied.failed, qPrintable(applied.error));
        QCOMPARE(page->scriptCode, NewCode);

        // Only the root window checks the agent endpoints.
        desk->server.agentChecks = QJsonArray{QJsonObject{{"agent", "kept"}}};
        torn->checkAgentEndpoints();
        QCOMPARE(desk->server.agentChecks, (QJsonArray{QJsonObject{{"agent", "kept"}}}));
        delete torn.data();
    }

    // --- Paging ----------------------------------------------------------------

    void paging_data()
    {
        QTest::addColumn<QJsonObject>("arguments");
        QTest::addColumn<QString>("error");
        QTest::addColumn<int>("rows");
        QTest::addColumn<int>("nextOffset");
        QTest::addColumn<bool>("hasMore");
        QTest::newRow("defaults") << QJsonObject{} << QString() << 10 << 10 << false;
        QTest::newRow("middle") << QJsonObject{{"offset", 2}, {"limit", 3}} << QString() << 3 << 5 << true;
        QTest::newRow("last-row") << QJsonObject{{"offset", 9}, {"limit", 200}} << QString() << 1 << 10 << false;
        QTest::newRow("offset-4000") << QJsonObject{{"offset", 4000}} << QString() << 0 << 4000 << false;
        QTest::newRow("limit-1") << QJsonObject{{"limit", 1}} << QString() << 1 << 1 << true;
        QTest::newRow("not-integers") << QJsonObject{{"offset", "3"}, {"limit", 2.5}} << QString() << 10 << 10 << false;
        QTest::newRow("limit-0") << QJsonObject{{"limit", 0}} << Range << 0 << 0 << false;
        QTest::newRow("limit-201") << QJsonObject{{"limit", 201}} << Range << 0 << 0 << false;
        QTest::newRow("offset--1") << QJsonObject{{"offset", -1}} << Range << 0 << 0 << false;
        QTest::newRow("offset-4001") << QJsonObject{{"offset", 4001}} << Range << 0 << 0 << false;
        QTest::newRow("offset-huge") << QJsonObject{{"offset", 1e300}} << Range << 0 << 0 << false;
    }

    void paging()
    {
        QFETCH(QJsonObject, arguments);
        QFETCH(QString, error);
        receiveLines({"l0", "l1", "l2", "l3", "l4", "l5", "l6", "l7", "l8", "l9"});
        if (!error.isEmpty()) {
            QCOMPARE(searchError(arguments), error);
            return;
        }
        const QJsonObject result = search(arguments);
        QFETCH(int, rows);
        QFETCH(int, nextOffset);
        QFETCH(bool, hasMore);
        QCOMPARE(result.value("view_id").toString(), page->id);
        QCOMPARE(result.value("scope").toString(), QStringLiteral("gui_display"));
        QCOMPARE(result.value("total_matches").toInt(), 10);
        QCOMPARE(result.value("rows").toArray().size(), rows);
        QCOMPARE(result.value("next_offset").toInt(), nextOffset);
        QCOMPARE(result.value("has_more").toBool(), hasMore);
        const int offset = arguments.value("offset").isDouble() ? arguments.value("offset").toInt() : 0;
        if (rows > 0) {
            const QJsonObject first = result.value("rows").toArray().first().toObject();
            QVERIFY(first.value("text").toString().endsWith(QStringLiteral("l%1").arg(offset)));
            QCOMPARE(first.value("truncated").toBool(), false);
            QVERIFY(first.value("line").toInt() >= offset);
        }
    }

    // --- Filters ---------------------------------------------------------------

    void filterRefused_data()
    {
        QTest::addColumn<QJsonObject>("arguments");
        QTest::addColumn<QString>("error");
        QTest::newRow("not-object") << QJsonObject{{"filter", "beta"}} << QStringLiteral("filter 必须是对象");
        QTest::newRow("regex-string") << QJsonObject{{"filter", QJsonObject{{"text", "x"}, {"regex", "true"}}}}
                                      << QStringLiteral("搜索参数类型错误：regex");
        QTest::newRow("text-number") << QJsonObject{{"filter", QJsonObject{{"text", 3}}}}
                                     << QStringLiteral("搜索参数类型错误：text");
        QTest::newRow("unknown-key") << QJsonObject{{"filter", QJsonObject{{"colour", true}}}}
                                     << QStringLiteral("未知的搜索参数：colour");
        QTest::newRow("too-long") << QJsonObject{{"filter", QJsonObject{{"text", QString(2049, QLatin1Char('a'))}}}}
                                  << QStringLiteral("搜索内容最多 2048 字符");
        QTest::newRow("with-snapshot") << QJsonObject{{"filter", QJsonObject{{"text", "beta"}}}, {"snapshot", "current"}}
                                       << WithSnapshot;
    }

    void filterRefused()
    {
        QFETCH(QJsonObject, arguments);
        QFETCH(QString, error);
        receiveLines({"alpha", "beta"});
        page->filterBox()->restore(QJsonObject{{"text", "a"}});
        const QJsonObject before = page->filterBox()->filter.settings();
        if (arguments.contains("snapshot"))
            arguments.insert("snapshot", search().value("snapshot"));
        QCOMPARE(searchError(arguments), error);
        QCOMPARE(page->filterBox()->filter.settings(), before);
        QCOMPARE(page->filterBox()->text(), QStringLiteral("a"));
    }

    // An expression that backtracks for a long time on every line would hold
    // the GUI once for the whole log and again for each line that arrives:
    // the search refuses it and the user's filter stays.
    void slowExpressionIsRefused()
    {
        receiveLines(QStringList(200, QString(100, QLatin1Char('a'))));
        page->filterBox()->restore(QJsonObject{{"text", "a"}});
        const QJsonObject before = page->filterBox()->filter.settings();
        QCOMPARE(searchError({{"filter", QJsonObject{{"text", R"((\w|\w\w)+[!?])"}, {"regex", true}}}}),
                 QStringLiteral("搜索条件匹配耗时过长，请简化表达式"));
        QCOMPARE(page->filterBox()->filter.settings(), before);
        // A quick expression over the same lines is taken.
        QCOMPARE(search({{"filter", QJsonObject{{"text", R"(^\S+\s+RX\s+a+$)"}, {"regex", true}}}})
                     .value("total_matches").toInt(),
                 200);
    }

    void invalidExpressionKeepsTheBox()
    {
        const QJsonObject before = page->filterBox()->filter.settings();
        SearchFilter broken;
        broken.text = QStringLiteral("(");
        broken.regex = true;
        broken.compile();
        QVERIFY(!broken.error.isEmpty());
        QCOMPARE(searchError({{"filter", QJsonObject{{"text", "("}, {"regex", true}}}}), broken.error);
        QCOMPARE(page->filterBox()->filter.settings(), before);
    }

    void filterReachesTheSearchBox()
    {
        receiveLines({"alpha one", "beta two", "gamma", "Beta three"});
        const QJsonObject result = search({{"filter", QJsonObject{{"text", "beta"}}}});
        QCOMPARE(page->filterBox()->text(), QStringLiteral("beta"));
        QCOMPARE(result.value("filter").toObject().value("text").toString(), QStringLiteral("beta"));
        // The workspace file keeps the page's new search at once.
        QCOMPARE(desk->fileObject().value("views").toObject().value(channel->config.key()).toObject()
                     .value("search_filter").toObject(),
                 result.value("filter").toObject());
        QCOMPARE(result.value("total_matches").toInt(), 2);
        const QJsonArray rows = result.value("rows").toArray();
        QVERIFY(rows.at(0).toObject().value("text").toString().endsWith("beta two"));
        QVERIFY(rows.at(1).toObject().value("text").toString().endsWith("Beta three"));
        // Hidden lines still count in the line numbers.
        QVERIFY(rows.at(1).toObject().value("line").toInt() > rows.at(0).toObject().value("line").toInt() + 1);

        // A later filter starts from the current settings.
        const QJsonObject exact = search({{"filter", QJsonObject{{"case_sensitive", true}}}});
        QCOMPARE(exact.value("filter").toObject().value("text").toString(), QStringLiteral("beta"));
        QCOMPARE(exact.value("total_matches").toInt(), 1);
        QVERIFY(page->filterBox()->filter.case_sensitive);
        QCOMPARE(call("list_search_views").result.value("views").toArray().first().toObject().value("filter").toObject(),
                 exact.value("filter").toObject());
    }

    void snapshotFollowsTheDisplay()
    {
        receiveLines({"one", "two", "three"});
        const QJsonObject first = search({{"limit", 2}});
        const QString snapshot = first.value("snapshot").toString();
        QCOMPARE(snapshot.size(), 64);
        const QJsonObject second = search({{"offset", 2}, {"snapshot", snapshot}});
        QCOMPARE(second.value("snapshot").toString(), snapshot);
        QCOMPARE(second.value("rows").toArray().size(), 1);

        // A line the filter hides changes nothing the user sees.
        page->filterBox()->restore(QJsonObject{{"text", "t"}});
        const QString filtered = search().value("snapshot").toString();
        QVERIFY(filtered != snapshot);
        receiveLines({"xyz"});
        QVERIFY(search({{"snapshot", filtered}}).contains("rows"));
        receiveLines({"tenth"});
        QCOMPARE(searchError({{"snapshot", filtered}}), Changed);
    }

    // --- Row bounds ------------------------------------------------------------

    void hiddenLogIsSearchedWhole()
    {
        // The window is not shown, so the page's log lays nothing out; the
        // search reads what it holds all the same.
        QVERIFY(!page->logView()->isVisible());
        QByteArray lines;
        for (int index = 0; index < 5000; ++index)
            lines += "reading " + QByteArray::number(index) + "\n";
        channel->receive(lines, QString());
        const QJsonObject result = search({{"filter", QJsonObject{{"text", "reading 4999"}}}});
        QCOMPARE(result.value("rows").toArray().size(), 1);
        QVERIFY(result.value("rows").toArray().first().toObject().value("text").toString().endsWith("reading 4999"));
        QVERIFY(page->logView()->document()->isEmpty());
        // The rows it held once the bound was passed are the newest ones.
        QCOMPARE(search({{"filter", QJsonObject{{"text", "reading 4"}}}}).value("total_matches").toInt(), 1000);
        QCOMPARE(search({{"filter", QJsonObject{{"text", "reading 1000"}}}}).value("total_matches").toInt(), 1);
        QCOMPARE(search({{"filter", QJsonObject{{"text", "reading 999"}, {"whole_word", true}}}})
                     .value("total_matches")
                     .toInt(),
                 0);
    }

    void longLinesComeAsOneRow()
    {
        // The view shows a long device line in continuation rows; the search
        // hands it back whole, as one row cut at the row bound.
        receiveLines({QString(20000, QLatin1Char('x')), QString(40000, QLatin1Char('y')), "short"});
        const QJsonArray rows = search().value("rows").toArray();
        QCOMPARE(rows.size(), 3);
        const QJsonObject whole = rows.at(0).toObject();
        QCOMPARE(whole.value("truncated").toBool(), false);
        QVERIFY(whole.value("text").toString().endsWith(QString(20000, QLatin1Char('x'))));
        QVERIFY(!whole.value("text").toString().contains(QStringLiteral("RX+")));
        const QJsonObject cut = rows.at(1).toObject();
        QCOMPARE(cut.value("truncated").toBool(), true);
        QCOMPARE(cut.value("text").toString().size(), 32768);
        QVERIFY(!cut.value("text").toString().contains(QStringLiteral("RX+")));
        QCOMPARE(cut.value("line").toInt(), rows.at(0).toObject().value("line").toInt() + 5);
        QVERIFY(rows.at(2).toObject().value("text").toString().endsWith(QStringLiteral("short")));
    }

    void matchAcrossARowBoundaryIsFound()
    {
        // 4093 characters, then the needle: the view's row bound cuts it.
        receiveLines({QString(4093, QLatin1Char('x')) + QStringLiteral("NEEDLE-1 tail"), "NEEDLE-2"});
        const QJsonObject result = search({{"filter", QJsonObject{{"text", "NEEDLE-1"}}}});
        const QJsonArray rows = result.value("rows").toArray();
        QCOMPARE(rows.size(), 1);
        QVERIFY(rows.first().toObject().value("text").toString().endsWith(QString(4093, QLatin1Char('x'))
                                                                           + QStringLiteral("NEEDLE-1 tail")));
        QCOMPARE(result.value("total_matches").toInt(), 1);
        // The rows it touches are both shown in the view.
        const LogLines& lines = page->logView()->lines();
        int shown = 0;
        for (int index = 0; index < lines.size(); ++index)
            shown += lines.isShown(lines.at(index)) ? 1 : 0;
        QCOMPARE(shown, 2);
    }

    void pageBytesAreCapped()
    {
        QStringList lines;
        for (int index = 0; index < 20; ++index)
            lines.append(QString(30000, QLatin1Char('a' + index)));
        receiveLines(lines);
        const QJsonObject result = search();
        const QJsonArray rows = result.value("rows").toArray();
        qsizetype bytes = 0;
        for (const QJsonValue& row : rows)
            bytes += QJsonDocument(row.toObject()).toJson(QJsonDocument::Compact).size();
        QVERIFY(bytes <= 524288);
        QCOMPARE(result.value("total_matches").toInt(), 20);
        QCOMPARE(result.value("next_offset").toInt(), rows.size());
        QVERIFY(result.value("has_more").toBool());
        // The next page goes on where this one stopped, with the row that did not fit.
        const QJsonObject next = search({{"offset", rows.size()}, {"snapshot", result.value("snapshot")}});
        const QJsonObject first = next.value("rows").toArray().first().toObject();
        QVERIFY(bytes + QJsonDocument(first).toJson(QJsonDocument::Compact).size() > 524288);
        QVERIFY(first.value("text").toString().endsWith(QString(30000, QLatin1Char('a' + rows.size()))));
    }

    // --- Window gone --------------------------------------------------------------

    void windowGone()
    {
        page->scriptTestHex = QStringLiteral("AA 55");
        QCOMPARE(call("get_frame_script").result.value("sample_chunks").toArray(), QJsonArray{"AA 55"});
        desk->engine.allowAiControl = true;
        const QString current = revision();
        desk->window.reset();
        window = nullptr;
        QCOMPARE(call("list_search_views").error, Gone);
        QCOMPARE(call("search_logs", {{"view_id", "x"}}).error, Gone);
        QCOMPARE(call("get_frame_script").result.value("sample_chunks").toArray(), QJsonArray());
        QCOMPARE(call("set_frame_script", {{"code", NewCode}, {"enabled", true}, {"expected_revision", revision()}}).error,
                 Gone);
        QVERIFY(current != revision());
        QVERIFY(channel->scriptSource != NewCode);
    }

    // --- Frame scripts -----------------------------------------------------------

    void scriptWithoutPage()
    {
        desk->engine.allowAiControl = true;
        window->busy = true; // keeps the window from binding a page to it again
        page->setChannel(nullptr);
        const QString rev = revision();
        QCOMPARE(call("set_frame_script", {{"code", NewCode}, {"enabled", false}, {"expected_revision", rev}}).error,
                 QStringLiteral("没有找到该串口的收发页面"));
        QVERIFY(channel->scriptSource != NewCode);
    }

    void scriptRefusedWhileEditing()
    {
        desk->engine.allowAiControl = true;
        page->tick(true);
        ScriptEditor* editor = showScriptEditor(page, true);
        QVERIFY(editor);
        auto* code = editor->findChild<QPlainTextEdit*>("scriptCode");
        auto* test = editor->findChild<QPushButton*>("testScript");
        const QString saved = code->toPlainText();
        const QString samples = page->scriptTestHex;
        const QString rev = revision();
        const QJsonObject arguments{{"code", NewCode}, {"enabled", true}, {"expected_revision", rev},
                                    {"sample_chunks", QJsonArray{"aa 55", "0d"}}};

        code->setPlainText(saved + QStringLiteral("\n"));
        QCOMPARE(call("set_frame_script", arguments).error,
                 QStringLiteral("GUI 脚本编辑器有未保存内容，请先保存或关闭编辑器"));
        code->setPlainText(saved);
        editor->findChild<QCheckBox*>("scriptEnabled")->toggle();
        QCOMPARE(call("set_frame_script", arguments).error,
                 QStringLiteral("GUI 脚本编辑器有未保存内容，请先保存或关闭编辑器"));
        editor->findChild<QCheckBox*>("scriptEnabled")->toggle();

        test->setEnabled(false); // as while a trial parse runs
        QCOMPARE(call("set_frame_script", arguments).error, QStringLiteral("GUI 正在试解析，请等待完成后再应用脚本"));
        // The limits of the request come before the GUI's passing state, so
        // a request too large is refused as such while a trial runs.
        QJsonObject tooLarge = arguments;
        tooLarge.insert("sample_chunks", QJsonArray{QString(131072, '0'), "01"});
        QCOMPARE(call("set_frame_script", tooLarge).error, QStringLiteral("试解析输入合计最多 64 KiB"));
        tooLarge = arguments;
        tooLarge.insert("code", NewCode + QString(65536, ' '));
        QCOMPARE(call("set_frame_script", tooLarge).error, QStringLiteral("脚本源码最多 64 KiB"));
        QCOMPARE(channel->scriptSource, saved);
        QCOMPARE(page->scriptTestHex, samples);
        test->setEnabled(true);

        const Answer applied = call("set_frame_script", arguments);
        QVERIFY2(!applied.failed, qPrintable(applied.error));
        QCOMPARE(applied.result.value("code").toString(), NewCode);
        QCOMPARE(applied.result.value("enabled").toBool(), true);
        QCOMPARE(applied.result.value("sample_chunks").toArray(), (QJsonArray{"AA 55", "0D"}));
        QCOMPARE(channel->scriptSource, NewCode);
        QVERIFY(channel->scriptEnabled);
        QCOMPARE(page->scriptCode, NewCode);
        QVERIFY(page->scriptEnabled);
        QCOMPARE(page->scriptTestHex, QStringLiteral("AA 55\n0D"));
        QCOMPARE(code->toPlainText(), NewCode);
        QCOMPARE(editor->findChild<QPlainTextEdit*>("scriptTestHex")->toPlainText(), QStringLiteral("AA 55\n0D"));
        QVERIFY(editor->findChild<QCheckBox*>("scriptEnabled")->isChecked());
        QCOMPARE(editor->findChild<QTreeWidget*>("scriptTestResults")->topLevelItemCount(), 0);
        QCOMPARE(editor->findChild<QLabel*>("scriptEditorStatus")->text(),
                 QStringLiteral("AI 已同步并启用脚本 · 从新收到的数据开始解析"));
        QCOMPARE(window->current, page.data());
        // The workspace file holds the page's new script and samples.
        const QJsonObject saved1 = desk->fileObject().value("views").toObject().value(channel->config.key()).toObject();
        QVERIFY(QJsonDocument(saved1).toJson().contains("AA 55"));

        // The editor now agrees with the channel, so a second change goes through.
        const Answer off = call("set_frame_script", {{"code", NewCode}, {"enabled", false},
                                                     {"expected_revision", applied.result.value("revision")}});
        QVERIFY2(!off.failed, qPrintable(off.error));
        QVERIFY(!channel->scriptEnabled);
        QCOMPARE(page->scriptTestHex, QStringLiteral("AA 55\n0D"));
        QCOMPARE(editor->findChild<QLabel*>("scriptEditorStatus")->text(), QStringLiteral("AI 已同步并停用脚本"));
    }

    void scriptWithoutEditor()
    {
        desk->engine.allowAiControl = true;
        page->scriptTestHex = QStringLiteral("01 02");
        const Answer applied = call("set_frame_script", {{"code", NewCode}, {"enabled", true}, {"expected_revision", revision()}});
        QVERIFY2(!applied.failed, qPrintable(applied.error));
        QCOMPARE(page->scriptCode, NewCode);
        QCOMPARE(channel->scriptSource, NewCode);
        // Without "sample_chunks" the page keeps its samples.
        QCOMPARE(applied.result.value("sample_chunks").toArray(), QJsonArray{"01 02"});
        QCOMPARE(page->scriptTestHex, QStringLiteral("01 02"));
        // The page's editor opens, showing what the agent applied.
        ScriptEditor* editor = findScriptEditor(page);
        QVERIFY(editor);
        QCOMPARE(editor->findChild<QPlainTextEdit*>("scriptCode")->toPlainText(), NewCode);
        QVERIFY(editor->findChild<QCheckBox*>("scriptEnabled")->isChecked());
        QCOMPARE(editor->findChild<QLabel*>("scriptEditorStatus")->text(),
                 QStringLiteral("AI 已同步并启用脚本 · 从新收到的数据开始解析"));
    }

    void refusedStoredScript_data()
    {
        QTest::addColumn<QString>("how");
        QTest::addColumn<bool>("agentScript");
        QTest::newRow("restored onto the live channel") << QStringLiteral("restored") << false;
        QTest::newRow("restored, then bound") << QStringLiteral("bound") << false;
        // The channel runs a working script an agent set: that script stays,
        // and is what an agent reads.
        QTest::newRow("agent's script running") << QStringLiteral("restored") << true;
    }

    // A stored script that no longer compiles: an agent reads the page's
    // compile error with the page's text, as the user sees them.
    void refusedStoredScript()
    {
        QFETCH(QString, how);
        QFETCH(bool, agentScript);
        desk->engine.allowAiControl = true;
        if (agentScript) {
            const Answer applied =
                call("set_frame_script", {{"code", NewCode}, {"enabled", true}, {"expected_revision", revision()}});
            QVERIFY2(!applied.failed, qPrintable(applied.error));
            if (ScriptEditor* editor = findScriptEditor(page))
                editor->close();
        }
        const QString broken = QStringLiteral("void main(const uint8_t data[], int length) { nonsense( }");
        const QJsonObject stored{{"script_code", broken}, {"script_enabled", true}};
        window->statusBar()->clearMessage();
        if (how == QLatin1String("bound")) {
            window->busy = true; // the page stays unbound until it is bound below
            page->setChannel(nullptr);
            page->restore(stored);
            page->setChannel(channel);
            window->busy = false;
        } else {
            page->restore(stored);
        }
        page->tick(true);
        const QString shown = page->scriptResults()->status->text();
        QVERIFY2(shown.startsWith(QStringLiteral("已停用 · 第 1 行：")), qPrintable(shown));
        const QString error = shown.mid(QStringLiteral("已停用 · ").size());
        QCOMPARE(window->statusBar()->currentMessage(), QStringLiteral("操作失败：") + error);

        const Answer script = call("get_frame_script");
        QVERIFY2(!script.failed, qPrintable(script.error));
        QCOMPARE(script.result.value("enabled").toBool(), agentScript);
        if (agentScript) {
            QCOMPARE(script.result.value("code").toString(), NewCode);
            QCOMPARE(script.result.value("error").toString(), QString());
            return;
        }
        QCOMPARE(script.result.value("code").toString(), broken);
        QCOMPARE(script.result.value("error").toString(), error);
        // The results agents read say the same.
        const Answer results = call("read_script_results");
        QVERIFY2(!results.failed, qPrintable(results.error));
        QCOMPARE(results.result.value("error").toString(), error);

        // A script that compiles, set by the agent, clears it.
        const Answer fixed =
            call("set_frame_script", {{"code", NewCode}, {"enabled", true}, {"expected_revision", revision()}});
        QVERIFY2(!fixed.failed, qPrintable(fixed.error));
        QCOMPARE(fixed.result.value("error").toString(), QString());
        page->tick(true);
        QVERIFY(!page->scriptResults()->status->text().contains(QStringLiteral("第 1 行")));
    }

    // --- Agent endpoint checks ------------------------------------------------------

    void agentChecks()
    {
        test::AgentHome home;
        home.tool(QStringLiteral("codex"));
        home.tool(QStringLiteral("claude"));
        home.write(QStringLiteral(".claude.json"), "{ \"mcpServers\": ");
        window->agentEnvironment = [&home] { return home.environment(); };
        window->checkAgentEndpoints();
        QJsonArray checks = desk->server.agentChecks;
        QCOMPARE(checks.size(), 2); // tools that are not installed get no entry
        QJsonObject claude, codex;
        for (const QJsonValue& check : std::as_const(checks))
            (check.toObject().value("agent").toString() == "codex" ? codex : claude) = check.toObject();
        QCOMPARE(claude.value("agent").toString(), QStringLiteral("claude-code"));
        QCOMPARE(claude.value("status").toString(), QStringLiteral("配置无法读取或解析，请在 Agent 接入页检查"));
        QCOMPARE(claude.value("matches").toBool(), false);
        QCOMPARE(claude.value("expected_url").toString(), desk->server.url());
        QVERIFY(claude.value("config_path").toString().endsWith(".claude.json"));
        QCOMPARE(codex.value("status").toString(), QStringLiteral("尚未配置"));

        // A new port is checked again at once, against the new address.
        QVERIFY(desk->server.changePort(test::freeTcpPort()));
        port = desk->server.serverPort();
        checks = desk->server.agentChecks;
        QCOMPARE(checks.size(), 2);
        QCOMPARE(checks.first().toObject().value("expected_url").toString(), desk->server.url());
        QVERIFY(desk->server.url().contains(QString::number(port)));
        window->agentEnvironment = nullptr;
    }

    // --- Connections -------------------------------------------------------------

    void agentConnectionShowsItsPage()
    {
        desk->engine.allowAiControl = true;
        desk->server.setProtocolEnabled(QStringLiteral("tcp-server"), true);
        const Answer opened = call("open_connection", {{"config", QJsonObject{{"kind", "tcp-server"},
                                                                            {"bind_host", "127.0.0.1"},
                                                                            {"bind_port", int(test::freeTcpPort())}}}});
        QVERIFY2(!opened.failed, qPrintable(opened.error));
        Channel* agent = desk->engine.get(opened.result.value("id").toString());
        QVERIFY(agent);
        QVERIFY(window->current);
        QCOMPARE(window->current->channel.data(), agent);
        QCOMPARE(window->findPane(agent), window->current);
    }

    void loopbackPortStaysTheLoopback_data()
    {
        QTest::addColumn<QString>("opener");
        QTest::newRow("typed in the sidebar") << QStringLiteral("typed");
        QTest::newRow("an agent's open_connection") << QStringLiteral("agent");
        // Opened through the engine, as the preview options open theirs.
        QTest::newRow("opened by the program") << QStringLiteral("program");
    }

    // Whoever opened it, a page on "loop://" shows that port, and the connect
    // button closes and reopens the loopback with it.
    void loopbackPortStaysTheLoopback()
    {
        QFETCH(QString, opener);
        window->show();
        QVERIFY(QTest::qWaitForWindowExposed(window));
        auto* box = window->findChild<QComboBox*>(QStringLiteral("serialPort"));
        auto* state = window->findChild<QLabel*>(QStringLiteral("connectionState"));
        auto* button = window->findChild<QWidget*>(QStringLiteral("sidebar"))->findChild<QPushButton*>("primary");
        QVERIFY(box && state && button);

        desk->engine.remove(channel->id);
        channel = nullptr;
        QTRY_VERIFY(window->current && !window->current->channel);
        if (opener == QLatin1String("program")) {
            Config config;
            config.port = QStringLiteral("loop://");
            channel = desk->engine.open(config);
            QTRY_VERIFY(window->findPane(channel));
            window->showPane(window->findPane(channel));
        } else if (opener == QLatin1String("typed")) {
            QLineEdit* edit = box->lineEdit();
            edit->setFocus();
            QTest::keyClick(edit, Qt::Key_A, Qt::ControlModifier);
            QTest::keyClicks(edit, QStringLiteral("loop://"));
            QTest::keyClick(edit, Qt::Key_Tab);
            QTest::mouseClick(button, Qt::LeftButton);
            channel = window->current->channel;
        } else if (opener == QLatin1String("agent")) {
            desk->engine.allowAiControl = true;
            const Answer opened =
                call("open_connection", {{"config", QJsonObject{{"kind", "serial"}, {"port", "loop://"}}}});
            QVERIFY2(!opened.failed, qPrintable(opened.error));
            channel = desk->engine.get(opened.result.value("id").toString());
        }
        QVERIFY(channel);
        QCOMPARE(window->current->channel.data(), channel);
        QCOMPARE(box->currentText(), QStringLiteral("loop://"));
        QCOMPARE(state->text(), QStringLiteral("已连接"));
        window->refreshPorts();
        QCOMPARE(box->currentText(), QStringLiteral("loop://"));

        window->statusBar()->clearMessage();
        QTest::mouseClick(button, Qt::LeftButton);
        QCOMPARE(channel->state, QStringLiteral("closed"));
        QCOMPARE(state->text(), QStringLiteral("已断开"));
        QCOMPARE(box->currentText(), QStringLiteral("loop://"));
        QCOMPARE(button->text(), QStringLiteral("建立连接"));

        QTest::mouseClick(button, Qt::LeftButton);
        QCOMPARE(window->statusBar()->currentMessage(), QString());
        QCOMPARE(window->current->channel.data(), channel);
        QTRY_COMPARE(channel->state, QStringLiteral("connected"));
        QCOMPARE(channel->config.port, QStringLiteral("loop://"));
        QCOMPARE(box->currentText(), QStringLiteral("loop://"));
        QTRY_COMPARE(state->text(), QStringLiteral("已连接"));
    }
};

QTEST_MAIN(McpBridgeTest)
#include "McpBridgeTest.moc"
