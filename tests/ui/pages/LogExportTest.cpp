#include "PageFixture.h"

#include "ui/pages/LogExport.h"
#include "tests/support/FileSizeLimit.h"

#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QJsonDocument>
#include <QStandardPaths>

#include <cerrno>

using namespace vn;
using namespace vn::test;
using vn::test::FileSizeLimit;

namespace {

// What the export must hold: the channel's retained events, one compact line each.
QByteArray expectedLines(const Journal& journal, const QString& channelId)
{
    QByteArray out;
    for (const Journal::Entry& entry : journal.events) {
        if (entry.first.value("channel_id").toString() == channelId)
            out += QJsonDocument(entry.first).toJson(QJsonDocument::Compact) + '\n';
    }
    return out;
}

QByteArray readAll(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<unreadable>");
}

} // namespace

class LogExportTest : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void initTestCase()
    {
        // The file dialog remembers its folders in the Qt settings; under a
        // file size limit those are written to the test's own location.
        QStandardPaths::setTestModeEnabled(true);
    }

    void exportThroughTheDialog()
    {
        PageFixture fixture;
        Channel* channel = nullptr;
        Pane* page = fixture.open(loopback(), &channel);
        Channel* other = fixture.engine.open(network(QStringLiteral("udp"), 9, 0));
        channel->send("first\n", QString(), QStringLiteral("gui"));
        other->send("elsewhere", QStringLiteral("127.0.0.1:9"), QStringLiteral("gui"));
        fixture.engine.journal.append(channel->id, QStringLiteral("rx"), QByteArray("\x00\xff\"\\", 4),
                                      QStringLiteral("default"), QString(), true, QStringLiteral("serial"));
        QTRY_VERIFY(expectedLines(fixture.engine.journal, channel->id).count('\n') >= 4); // status, tx, echo, rx
        fixture.window->showPane(page);
        page->tick(true);
        page->clearView(); // cleared history is still exported

        const QString path = fixture.folder.filePath(QStringLiteral("serial-log.jsonl"));
        bool asked = false;
        whenShown<QFileDialog>(QStringLiteral("logExportDialog"), [&asked, path](QFileDialog* dialog) {
            asked = true;
            QCOMPARE(dialog->windowTitle(), QStringLiteral("导出连接日志"));
            QCOMPARE(dialog->nameFilters(), QStringList{QStringLiteral("JSON Lines (*.jsonl)")});
            dialog->selectFile(path);
            static_cast<QDialog*>(dialog)->accept();
        });
        page->exportLog();
        QVERIFY(asked);
        const QByteArray written = readAll(path);
        QCOMPARE(written, expectedLines(fixture.engine.journal, channel->id));
        QVERIFY(written.contains("\"direction\":\"status\""));
        QVERIFY(written.contains("\"stream_reset\":true"));
        QVERIFY(!written.contains("elsewhere"));
    }

    void droppedEventsGiveAnEmptyFile()
    {
        Journal journal;
        journal.append(QStringLiteral("gone"), QStringLiteral("rx"), "x", QString(), QString(), false, QString());
        for (int index = 0; index < Journal::MaxEvents; ++index)
            journal.append(QStringLiteral("busy"), QStringLiteral("rx"), "y", QString(), QString(), false, QString());
        QTemporaryDir folder;
        const QString path = folder.filePath(QStringLiteral("empty.jsonl"));
        QCOMPARE(LogExport::write(journal, QStringLiteral("gone"), path), QString());
        QCOMPARE(readAll(path), QByteArray());
    }

    void unwritableFolderIsReported()
    {
        PageFixture fixture;
        Channel* channel = nullptr;
        Pane* page = fixture.open(loopback(), &channel);
        const QString path = fixture.folder.filePath(QStringLiteral("missing/serial-log.jsonl"));
        whenShown<QFileDialog>(QStringLiteral("logExportDialog"), [path](QFileDialog* dialog) {
            dialog->selectFile(path);
            static_cast<QDialog*>(dialog)->accept();
        });
        page->exportLog();
        const QString failure = LogExport::write(fixture.engine.journal, channel->id, path);
        QVERIFY(!failure.isEmpty());
        QVERIFY(!QFile::exists(path));
        QCOMPARE(fixture.statusMessage(), QStringLiteral("操作失败：") + failure);
    }

    void fullDiskKeepsTheEarlierFile()
    {
        PageFixture fixture;
        Channel* channel = nullptr;
        Pane* page = fixture.open(loopback(), &channel);
        for (const char* line : {"first\n", "second\n", "third\n"})
            channel->send(line, QString(), QStringLiteral("gui"));
        QTRY_VERIFY(expectedLines(fixture.engine.journal, channel->id).size() > 512);
        const QString path = fixture.folder.filePath(QStringLiteral("serial-log.jsonl"));
        const QByteArray earlier("{\"an\":\"earlier export\"}\n");
        QFile old(path);
        QVERIFY(old.open(QIODevice::WriteOnly));
        QCOMPARE(old.write(earlier), earlier.size());
        old.close();

        whenShown<QFileDialog>(QStringLiteral("logExportDialog"), [path](QFileDialog* dialog) {
            // The user already agreed to replace the earlier file.
            dialog->setOption(QFileDialog::DontConfirmOverwrite);
            dialog->selectFile(path);
            static_cast<QDialog*>(dialog)->accept();
        });
        {
            // What a full disk does, without root: the export is far below the
            // save file's own buffer, so only its flush sees the failure.
            const FileSizeLimit limit(256);
            page->exportLog();
        }
        QCOMPARE(fixture.statusMessage(), QStringLiteral("操作失败：") + qt_error_string(EFBIG));
        QCOMPARE(readAll(path), earlier);
        QCOMPARE(QDir(fixture.folder.path()).entryList({QStringLiteral("serial-log.jsonl*")}, QDir::Files | QDir::Hidden),
                 QStringList{QStringLiteral("serial-log.jsonl")});
    }

    void cancelledOrUnboundDoesNothing()
    {
        PageFixture fixture;
        Pane page(fixture.window.get(), QString());
        page.exportLog(); // no channel: no dialog
        QVERIFY(!QApplication::activeModalWidget());
    }
};

QTEST_MAIN(LogExportTest)
#include "LogExportTest.moc"
