#include "core/Channel.h"
#include "core/Engine.h"
#include "mcp/McpServer.h"
#include "ui/window/ActivityTables.h"

#include <QApplication>
#include <QHeaderView>
#include <QJsonObject>
#include <QScrollBar>
#include <QTest>
#include <QTextDocument>
#include <QTreeWidget>

using namespace vn;

namespace {

QJsonObject call(qint64 seq, const QString& summary = QString(), const QString& status = QStringLiteral("ok"))
{
    return {{"seq", seq},
            {"time", QStringLiteral("2026-03-04T05:06:07.%1Z").arg(seq % 1000, 3, 10, QLatin1Char('0'))},
            {"client", "<b>codex</b>"},
            {"tool", "read_events"},
            {"summary", summary},
            {"status", status},
            {"duration_ms", 12},
            {"error", status == QLatin1String("ok") ? "" : "<i>boom</i>"}};
}

} // namespace

class ActivityTablesTest : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void init();
    void cleanup();

    void overviewListsEveryChannel();
    void callLogColumns();
    void callLogIsRebuiltOnlyForNewCalls();
    void readerAtTheEndFollowsNewRows();
    void readerScrolledUpKeepsTheTopRow();
    void agentTextsStayPlain_data();
    void agentTextsStayPlain();

private:
    void record(int count)
    {
        for (int index = 0; index < count; ++index) {
            ++server->callCount;
            server->history.append(call(server->callCount));
        }
    }

    std::unique_ptr<Engine> engine;
    std::unique_ptr<McpServer> server;
    std::unique_ptr<QTreeWidget> tree;
};

void ActivityTablesTest::init()
{
    engine = std::make_unique<Engine>();
    server = std::make_unique<McpServer>(engine.get());
    tree = std::make_unique<QTreeWidget>();
    tree->setColumnCount(6);
    tree->resize(700, 200);
    tree->show();
    QVERIFY(QTest::qWaitForWindowExposed(tree.get()));
}

void ActivityTablesTest::cleanup()
{
    tree.reset();
    server.reset();
    engine.reset();
}

void ActivityTablesTest::overviewListsEveryChannel()
{
    Config config;
    config.port = QStringLiteral("loop://");
    Channel* channel = engine->open(config);
    channel->send("hello");
    QTRY_COMPARE(channel->rxBytes, qint64(5));
    fillConnectionsOverview(tree.get(), engine.get());
    QCOMPARE(tree->topLevelItemCount(), 1);
    const QTreeWidgetItem* row = tree->topLevelItem(0);
    QCOMPARE(row->text(0), channel->name);
    QCOMPARE(row->text(1), QStringLiteral("serial"));
    QCOMPARE(row->text(2), QStringLiteral("已连接"));
    QCOMPARE(row->text(3), channel->id);
    QCOMPARE(row->text(4), QStringLiteral("5 / 5"));

    channel->close();
    fillConnectionsOverview(tree.get(), engine.get());
    QCOMPARE(tree->topLevelItemCount(), 1);
    QCOMPARE(tree->topLevelItem(0)->text(2), QStringLiteral("未连接"));
}

void ActivityTablesTest::callLogColumns()
{
    server->history = {call(1, "读取 3 条事件"), call(2, "", "error")};
    server->callCount = 2;
    fillCallLog(tree.get(), server.get());
    QCOMPARE(tree->topLevelItemCount(), 2);
    const QTreeWidgetItem* first = tree->topLevelItem(0);
    // The clock part of the ISO time, hh:mm:ss.zzz.
    QCOMPARE(first->text(0), QStringLiteral("05:06:07.001"));
    QCOMPARE(first->text(1), QStringLiteral("<b>codex</b>"));
    QCOMPARE(first->text(2), QStringLiteral("读取 3 条事件"));
    QCOMPARE(first->text(3), QStringLiteral("成功"));
    QCOMPARE(first->text(4), QStringLiteral("12"));
    QCOMPARE(first->data(0, Qt::UserRole).toJsonObject(), call(1, "读取 3 条事件"));
    QCOMPARE(first->toolTip(0), QStringLiteral("read_events"));
    const QTreeWidgetItem* second = tree->topLevelItem(1);
    QCOMPARE(second->text(2), QStringLiteral("read_events"));
    QCOMPARE(second->text(3), QStringLiteral("失败"));
    QCOMPARE(second->text(5), QStringLiteral("<i>boom</i>"));
    QCOMPARE(tree->property("lastSequence").toLongLong(), 2);
}

void ActivityTablesTest::callLogIsRebuiltOnlyForNewCalls()
{
    record(3);
    fillCallLog(tree.get(), server.get());
    tree->setCurrentItem(tree->topLevelItem(1));
    QTreeWidgetItem* kept = tree->topLevelItem(0);
    fillCallLog(tree.get(), server.get());
    QCOMPARE(tree->topLevelItem(0), kept);

    // A new call rebuilds the rows; the current row is found again by its seq.
    record(1);
    fillCallLog(tree.get(), server.get());
    QCOMPARE(tree->topLevelItemCount(), 4);
    QCOMPARE(tree->currentItem()->data(0, Qt::UserRole).toJsonObject().value("seq").toInteger(), 2);
}

void ActivityTablesTest::readerAtTheEndFollowsNewRows()
{
    record(60);
    fillCallLog(tree.get(), server.get());
    tree->scrollToBottom();
    QScrollBar* bar = tree->verticalScrollBar();
    QVERIFY(bar->maximum() > 0);
    QCOMPARE(bar->value(), bar->maximum());
    record(20);
    fillCallLog(tree.get(), server.get());
    QCOMPARE(bar->value(), bar->maximum());
    QCOMPARE(tree->itemAt(QPoint(1, tree->viewport()->height() - 2))->text(0),
             tree->topLevelItem(79)->text(0));
}

void ActivityTablesTest::readerScrolledUpKeepsTheTopRow()
{
    record(60);
    fillCallLog(tree.get(), server.get());
    QScrollBar* bar = tree->verticalScrollBar();
    // A reader well above the end keeps the row at the top of the view.
    tree->scrollToItem(tree->topLevelItem(30), QAbstractItemView::PositionAtTop);
    const qint64 top = tree->itemAt(QPoint(1, 1))->data(0, Qt::UserRole).toJsonObject().value("seq").toInteger();
    record(20);
    fillCallLog(tree.get(), server.get());
    QCOMPARE(tree->itemAt(QPoint(1, 1))->data(0, Qt::UserRole).toJsonObject().value("seq").toInteger(), top);
    QVERIFY(bar->value() < bar->maximum());
}

void ActivityTablesTest::agentTextsStayPlain_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<bool>("escaped");
    QTest::newRow("plain") << "read_events" << false;
    QTest::newRow("markup") << "<b>send</b>" << true;
    QTest::newRow("html") << "<html><img src=x></html>" << true;
}

void ActivityTablesTest::agentTextsStayPlain()
{
    QFETCH(QString, text);
    QFETCH(bool, escaped);
    const QString tip = plainToolTip(text);
    if (!escaped) {
        QCOMPARE(tip, text);
        return;
    }
    // Shown as rich text, the tip reads exactly the original characters.
    QTextDocument document;
    document.setHtml(tip);
    QCOMPARE(document.toPlainText(), text);
}

QTEST_MAIN(ActivityTablesTest)
#include "ActivityTablesTest.moc"
