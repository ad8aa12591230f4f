#include "tests/mcp/HttpClient.h"
#include "tests/ui/window/WorkspaceFixture.h"

#include <QApplication>
#include <QClipboard>
#include <QDialog>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QSignalSpy>
#include <QTest>
#include <QTextDocumentFragment>
#include <QTimer>

using namespace vn;
using vn::test::WorkspaceFixture;

namespace {

// What a tooltip shows: rich text is rendered, anything else stands as it is.
QString shownText(const QString& tip)
{
    return Qt::mightBeRichText(tip) ? QTextDocumentFragment::fromHtml(tip).toPlainText() : tip;
}

template <typename T>
T* child(QObject* parent, const char* name)
{
    return parent->findChild<T*>(QLatin1String(name));
}

// The text of the detail dialog opened for a record; the dialog is closed again.
QString detailOf(Window* window, const QJsonObject& record)
{
    window->showAuditDetail(record);
    QList<QDialog*> dialogs = window->findChildren<QDialog*>(QStringLiteral("mcpCallDetail"));
    if (dialogs.isEmpty())
        return QString();
    QDialog* dialog = dialogs.last();
    const QString text = child<QPlainTextEdit>(dialog, "mcpCallDetailText")->toPlainText();
    dialog->close();
    return text;
}

} // namespace

class AiToastTest : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void init();
    void cleanup();
    void realCallShowsToastAndStatus();
    void failedCallOpensItsDetail();
    void longSummaryIsElided();
    void toastHidesByButtonAndTimer();
    void detailSitsOverTheOpenSettings();
    void detailText_data();
    void detailText();

private:
    std::unique_ptr<WorkspaceFixture> fixture;
    Window* window = nullptr;
    quint16 port = 0;
};

void AiToastTest::init()
{
    fixture = std::make_unique<WorkspaceFixture>();
    QVERIFY(fixture->server.start(0));
    port = fixture->server.serverPort();
    window = fixture->open();
    window->resize(1200, 800);
    window->show();
    QVERIFY(QTest::qWaitForWindowExposed(window));
}

void AiToastTest::cleanup()
{
    fixture.reset();
    window = nullptr;
}

void AiToastTest::realCallShowsToastAndStatus()
{
    auto* toast = child<QFrame>(window, "aiToast");
    auto* status = child<QLabel>(window, "aiStatus");
    QVERIFY(toast && status);
    QVERIFY(!toast->isVisible());
    QVERIFY(!status->isVisible());

    // Client names come from agents: markup in them is shown, never rendered.
    const QString session = test::initialize(port, QStringLiteral("<b>agent</b>"));
    QVERIFY(!session.isEmpty());
    const QJsonObject reply = test::callTool(port, session, QStringLiteral("get_status"));
    QVERIFY(reply.contains(QStringLiteral("result")));

    QTRY_VERIFY(toast->isVisible());
    auto* text = child<QLabel>(window, "aiToastText");
    QCOMPARE(text->text(), QStringLiteral("AI · 成功 · get_status"));
    QCOMPARE(text->textFormat(), Qt::PlainText);
    const QString tip = shownText(text->toolTip());
    QVERIFY2(tip.startsWith(QStringLiteral("get_status\n客户端：<b>agent</b>\n时间：")), qPrintable(tip));
    QVERIFY(tip.contains(QStringLiteral(" ms")));
    QVERIFY(!tip.contains(QStringLiteral("错误：")));
    QCOMPARE(window->lastActivity.value(QStringLiteral("tool")).toString(), QStringLiteral("get_status"));

    // Top right of the page area, just below the tab header.
    QWidget* area = toast->parentWidget();
    QVERIFY(area->findChild<QWidget*>(QStringLiteral("tabHeader")));
    QCOMPARE(toast->pos(), QPoint(std::max(8, area->width() - toast->width() - 14), 101));
    QVERIFY(toast->width() <= 560);
    window->resize(700, 800);
    QTRY_COMPARE(toast->pos(), QPoint(std::max(8, area->width() - toast->width() - 14), 101));

    QVERIFY(status->isVisible());
    QCOMPARE(status->text(), QStringLiteral("AI · 成功 · get_status"));
    QCOMPARE(shownText(status->toolTip()), tip);
}

void AiToastTest::failedCallOpensItsDetail()
{
    const QString session = test::initialize(port);
    test::callTool(port, session, QStringLiteral("read_events"),
                   QJsonObject{{QStringLiteral("channel_id"), QStringLiteral("<i>nope</i>")}});
    auto* text = child<QLabel>(window, "aiToastText");
    QTRY_VERIFY(text->isVisible());
    QCOMPARE(text->text(), QStringLiteral("AI · 失败 · read_events"));
    const QString failure = window->lastActivity.value(QStringLiteral("error")).toString();
    QVERIFY(!failure.isEmpty());
    QVERIFY(shownText(text->toolTip()).endsWith(QStringLiteral("\n错误：") + failure));

    QTest::mouseClick(child<QPushButton>(window, "aiToastDetail"), Qt::LeftButton);
    auto* dialog = child<QDialog>(window, "mcpCallDetail");
    QVERIFY(dialog);
    QVERIFY(dialog->isVisible());
    QVERIFY(!dialog->isModal());
    QVERIFY(dialog->testAttribute(Qt::WA_DeleteOnClose));
    QCOMPARE(dialog->windowTitle(), QStringLiteral("MCP 调用详情 · read_events"));
    QCOMPARE(dialog->size(), QSize(820, 620));
    auto* body = child<QPlainTextEdit>(dialog, "mcpCallDetailText");
    QVERIFY(body->isReadOnly());
    QCOMPARE(body->lineWrapMode(), QPlainTextEdit::NoWrap);
    const QString detail = body->toPlainText();
    QVERIFY(detail.startsWith(QStringLiteral("调用 #")));
    QVERIFY(detail.contains(QStringLiteral("\n结果：失败\n")));
    QVERIFY(detail.contains(QStringLiteral("\"channel_id\": \"<i>nope</i>\"")));
    QVERIFY(detail.contains(QStringLiteral("\n错误：\n") + failure + QLatin1Char('\n')));
    QVERIFY(!detail.contains(QStringLiteral("返回：")));

    QPushButton* copy = nullptr;
    QPushButton* close = nullptr;
    for (QPushButton* button : dialog->findChildren<QPushButton*>()) {
        if (button->text() == QStringLiteral("复制详情"))
            copy = button;
        else if (button->text() == QStringLiteral("关闭"))
            close = button;
    }
    QVERIFY(copy && close);
    QTest::mouseClick(copy, Qt::LeftButton);
    QCOMPARE(QApplication::clipboard()->text(), detail);
    const QPointer<QDialog> guard(dialog);
    QTest::mouseClick(close, Qt::LeftButton);
    QTRY_VERIFY(guard.isNull());
}

void AiToastTest::longSummaryIsElided()
{
    const QString session = test::initialize(port);
    const QString words = QStringLiteral("temperature ").repeated(20);
    test::callTool(port, session, QStringLiteral("search_logs"),
                   QJsonObject{{QStringLiteral("filter"), QJsonObject{{QStringLiteral("text"), words}}}});
    auto* text = child<QLabel>(window, "aiToastText");
    QTRY_VERIFY(text->isVisible());
    const QString prefix = QStringLiteral("AI · ");
    QVERIFY(text->text().startsWith(prefix));
    QVERIFY(text->text().contains(QChar(0x2026)));
    const QString summary = text->text().section(QStringLiteral(" · "), 2);
    QVERIFY(text->fontMetrics().horizontalAdvance(summary) <= 300);
    QVERIFY(summary.startsWith(QStringLiteral("搜索「temperature")));
    auto* status = child<QLabel>(window, "aiStatus");
    QVERIFY(status->fontMetrics().horizontalAdvance(status->text().section(QStringLiteral(" · "), 2)) <= 240);
}

void AiToastTest::toastHidesByButtonAndTimer()
{
    QJsonObject record{{"tool", "get_status"}, {"status", "ok"}, {"summary", ""}};
    window->showAiActivity(record);
    auto* toast = child<QFrame>(window, "aiToast");
    QVERIFY(toast->isVisible());
    QTest::mouseClick(child<QWidget>(window, "aiToastClose"), Qt::LeftButton);
    QVERIFY(!toast->isVisible());
    // The status label stays with the latest call.
    QVERIFY(child<QLabel>(window, "aiStatus")->isVisible());

    window->showAiActivity(record);
    auto* hide = toast->findChild<QTimer*>(QStringLiteral("toastTimer"));
    QVERIFY(hide);
    QVERIFY(hide->isSingleShot());
    QCOMPARE(hide->interval(), 10000);
    QVERIFY(hide->isActive());
    hide->setInterval(20); // each call restarts the same countdown
    window->showAiActivity(record);
    QTRY_VERIFY(!toast->isVisible());
}

void AiToastTest::detailSitsOverTheOpenSettings()
{
    const QJsonObject record{{"tool", "get_status"}, {"status", "ok"}};
    window->showAuditDetail(record);
    QPointer<QDialog> detail = window->findChildren<QDialog*>(QStringLiteral("mcpCallDetail")).last();
    QCOMPARE(detail->parentWidget(), window);
    detail->close();
    QTRY_VERIFY(detail.isNull());

    window->openSettings();
    QDialog* settings = window->settingsDialog();
    QVERIFY(settings && settings->isVisible());
    window->showAuditDetail(record);
    window->showAuditDetail(record); // several may be open at once
    QCOMPARE(settings->findChildren<QDialog*>(QStringLiteral("mcpCallDetail")).size(), 2);

    // Closed, the settings dialog is only kept for later: no parent then.
    settings->hide();
    window->showAuditDetail(record);
    QCOMPARE(window->findChildren<QDialog*>(QStringLiteral("mcpCallDetail"), Qt::FindDirectChildrenOnly).size(), 1);
}

void AiToastTest::detailText_data()
{
    QTest::addColumn<QJsonObject>("record");
    QTest::addColumn<QStringList>("has");
    QTest::addColumn<QStringList>("hasNot");

    const QJsonObject base{{"seq", 7}, {"tool", "send_data"}, {"time", "2026-01-02T03:04:05.006Z"},
                           {"client", "codex"}, {"status", "ok"}, {"duration_ms", 12}};
    QJsonObject withResult = base;
    withResult.insert("result", "[1,2]");
    QTest::newRow("array result is indented")
        << withResult
        << QStringList{"调用 #7 · send_data\n时间：2026-01-02T03:04:05.006Z\n客户端：codex\n结果：成功\n耗时：12 ms\n",
                       "\n参数：\n{\n}\n", "\n返回：\n[\n    1,\n    2\n]\n"}
        << QStringList{"摘要："};
    QJsonObject plain = base;
    plain.insert("result", "not json {");
    plain.insert("summary", "发送 4 个字符");
    plain.insert("arguments", QJsonObject{{"payload", "4 字符"}});
    QTest::newRow("other result verbatim")
        << plain << QStringList{"摘要：发送 4 个字符\n", "\"payload\": \"4 字符\"", "\n返回：\nnot json {\n"}
        << QStringList();
    QJsonObject failed = base;
    failed.insert("status", "OK");
    failed.insert("error", "<b>boom</b>");
    failed.insert("result", "{\"a\":1}");
    QTest::newRow("failure shows the error, never the result")
        << failed << QStringList{"结果：失败", "\n错误：\n<b>boom</b>\n"} << QStringList{"返回：", "\"a\""};
    QTest::newRow("empty record") << QJsonObject()
                                  << QStringList{"调用 #0 · \n", "结果：失败", "耗时：0 ms", "\n参数：\n{\n}\n"}
                                  << QStringList{"返回：", "错误："};
}

void AiToastTest::detailText()
{
    QFETCH(QJsonObject, record);
    QFETCH(QStringList, has);
    QFETCH(QStringList, hasNot);
    const QString text = detailOf(window, record);
    for (const QString& part : has)
        QVERIFY2(text.contains(part), qPrintable(text));
    for (const QString& part : hasNot)
        QVERIFY2(!text.contains(part), qPrintable(text));
}

QTEST_MAIN(AiToastTest)
#include "AiToastTest.moc"
