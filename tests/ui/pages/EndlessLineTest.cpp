#include "PageFixture.h"

#include "tests/mcp/HttpClient.h"
#include "tests/support/TestSupport.h"
#include "ui/pages/ReceiveArea.h"
#include "ui/views/FilterBox.h"
#include "ui/views/LogView.h"

#include <QTcpServer>
#include <QTcpSocket>
#include <QTextBlock>
#include <QTextDocument>

#include <memory>

using namespace vn;
using namespace vn::test;

namespace {

constexpr qsizetype kChunk = 4096;
constexpr int kChunks = 64;   // 256 KiB

QByteArray chunk(int index)
{
    QByteArray bytes = QByteArray("0123456789ABCDEF").repeated(kChunk / 16);
    if (index == kChunks / 2)
        bytes.replace(160, 6, "NEEDLE");
    return bytes;
}

} // namespace

class EndlessLineTest : public QObject {
    Q_OBJECT

private Q_SLOTS:
    // A device that never ends its line: the window goes on ticking, the MCP
    // server goes on answering, and the page shows every byte in bounded lines.
    void windowKeepsTickingThroughAnEndlessLine()
    {
        PageFixture fixture;
        QVERIFY(fixture.server.start(0));
        const quint16 mcpPort = fixture.server.serverPort();
        QTcpServer device;
        QVERIFY(device.listen(QHostAddress::LocalHost, 0));
        Channel* channel = nullptr;
        Pane* page = fixture.open(network(QStringLiteral("tcp-client"), device.serverPort(), 0), &channel);
        QTRY_VERIFY(device.hasPendingConnections());
        std::unique_ptr<QTcpSocket> socket(device.nextPendingConnection());
        QTRY_COMPARE(channel->state, QStringLiteral("connected"));
        page->filterBox()->restore(QJsonObject{{QStringLiteral("text"), QStringLiteral("NEEDLE")}});
        QCOMPARE(page->logView()->filter().text, QStringLiteral("NEEDLE"));
        const QString session = initialize(mcpPort);
        QVERIFY(!session.isEmpty());

        QByteArray sent;
        for (int index = 0; index < kChunks; ++index) {
            socket->write(chunk(index));
            sent += chunk(index);
            // Only the window's own tick carries the bytes into the page.
            QTRY_VERIFY_WITH_TIMEOUT(channel->rxBytes == sent.size()
                                         && page->receiveArea()->readCursor == fixture.engine.journal.lastSeq,
                                     60000);
            if (index % 16 == 8) {
                const QJsonObject reply = callTool(mcpPort, session, QStringLiteral("get_status"));
                QVERIFY(reply.contains(QStringLiteral("result")));
            }
        }

        // The view lays out what it holds over the following turns.
        QTRY_VERIFY_WITH_TIMEOUT(page->logView()->isRendered(), 30000);
        const QTextDocument* document = page->logView()->document();
        QString kept;
        int lines = 0;
        int shown = 0;
        for (QTextBlock block = document->begin(); block.isValid(); block = block.next()) {
            const QString text = block.text();
            const qsizetype direction = text.indexOf(QStringLiteral("  RX"));
            if (direction < 0)
                continue;
            QCOMPARE(text.mid(direction + 2, 6),
                     lines == 0 ? QStringLiteral("RX    ") : QStringLiteral("RX+   "));
            kept += text.right(LogView::kMaxLineLength);
            ++lines;
            shown += block.isVisible() ? 1 : 0;
        }
        QCOMPARE(lines, int(sent.size() / LogView::kMaxLineLength));
        QCOMPARE(kept, QString::fromLatin1(sent));
        QCOMPARE(shown, 1);
    }
};

QTEST_MAIN(EndlessLineTest)
#include "EndlessLineTest.moc"
