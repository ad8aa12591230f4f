// Received text reaches a page's log view, and the agents' search through the
// window, as the device sent it, however the reads cut its characters.

#include "core/Channel.h"
#include "tests/mcp/HttpClient.h"
#include "tests/ui/window/WorkspaceFixture.h"
#include "ui/pages/Pane.h"
#include "ui/views/LogView.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QTest>

using namespace vn;

class ReceivedTextTest : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void splitCharacterKeepsTheNextByte_data()
    {
        QTest::addColumn<QByteArray>("first");
        QTest::addColumn<QByteArray>("second");
        QTest::addColumn<QString>("filter");
        QTest::addColumn<QString>("line");
        const QString r(QChar::ReplacementCharacter);
        QTest::newRow("lead byte, then a wave line's @") << QByteArray("BND1 \xdb") << QByteArray("@after\r\n")
                                                          << QStringLiteral("after") << "BND1 " + r + "@after";
        QTest::newRow("three-byte lead, then letters") << QByteArray("BND3 \xe4") << QByteArray("ABC\r\n")
                                                        << QStringLiteral("BC") << "BND3 " + r + "ABC";
        QTest::newRow("character split in two") << QByteArray("BND5 \xe4\xb8") << QByteArray("\xad!\r\n")
                                                 << QStringLiteral("BND5") << QString::fromUtf8("BND5 中!");
    }
    void splitCharacterKeepsTheNextByte()
    {
        QFETCH(QByteArray, first);
        QFETCH(QByteArray, second);
        QFETCH(QString, filter);
        QFETCH(QString, line);

        test::WorkspaceFixture desk;
        // Listening before the window exists keeps the start-up agent check
        // away from this user's agent tools.
        QVERIFY(desk.server.start(0));
        Window* window = desk.open();
        Config config;
        config.port = QStringLiteral("loop://");
        Channel* channel = desk.engine.open(config);
        QTRY_COMPARE(channel->state, QStringLiteral("connected"));
        Pane* page = window->findPane(channel);
        if (!page) {
            page = window->pages.first();
            page->setChannel(channel);
        }
        page->tick(true);
        page->clearView();

        // Two reads, two journal events, each pulled on a tick of its own.
        const qint64 before = desk.engine.journal.lastSeq;
        channel->receive(first, QString());
        page->tick(true);
        channel->receive(second, QString());
        page->tick(true);
        QCOMPARE(desk.engine.journal.lastSeq, before + 2);

        QTRY_VERIFY(page->logView()->plainText().contains(line));

        const QString session = test::initialize(desk.server.serverPort());
        QVERIFY(!session.isEmpty());
        const QJsonObject reply = test::callTool(
            desk.server.serverPort(), session, QStringLiteral("search_logs"),
            {{"channel_id", channel->id}, {"view_id", page->id}, {"filter", QJsonObject{{"text", filter}}}});
        const QJsonObject result = reply.value("result").toObject();
        QVERIFY2(!result.value("isError").toBool(), qPrintable(QJsonDocument(result).toJson()));
        const QJsonArray rows = result.value("structuredContent").toObject().value("rows").toArray();
        QCOMPARE(rows.size(), 1);
        QVERIFY2(rows.first().toObject().value("text").toString().contains(line),
                 qPrintable(rows.first().toObject().value("text").toString()));
    }
};

QTEST_MAIN(ReceivedTextTest)
#include "ReceivedTextTest.moc"
