#include "core/Channel.h"
#include "core/Engine.h"
#include "ui/controls/SerialControlPanel.h"
#include "ui/controls/SerialMonitorDialog.h"
#include "ui/kit/IconButton.h"
#include "ui/views/FilterBox.h"
#include "ui/views/LogLines.h"
#include "ui/views/LogView.h"

#include <QComboBox>
#include <QJsonArray>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSignalSpy>
#include <QTest>

using namespace vn;

namespace {

Channel* loopChannel(Engine& engine)
{
    Config c;
    c.port = QStringLiteral("loop://");
    return engine.open(c);
}

void journalLines(Engine& engine, const QString& channelId, int from, int to, const char* tag)
{
    for (int i = from; i < to; ++i)
        engine.journal.append(channelId, QStringLiteral("rx"),
                              QStringLiteral("[%1%2]\n").arg(QLatin1String(tag)).arg(i, 3, 10, QLatin1Char('0')).toUtf8(),
                              QString(), QString(), false, QStringLiteral("serial"));
}

template <typename T>
T* part(SerialMonitorDialog& dialog, const char* name)
{
    T* found = dialog.findChild<T*>(QLatin1String(name));
    if (!found)
        qFatal("no part %s", name);
    return found;
}

} // namespace

class SerialMonitorTest : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void unboundWindow()
    {
        SerialMonitorDialog dialog;
        QCOMPARE(dialog.objectName(), QStringLiteral("serialMonitorDialog"));
        QCOMPARE(dialog.windowTitle(), QStringLiteral("串口收发 · 未选择串口"));
        QCOMPARE(part<QLabel>(dialog, "serialMonitorConnection")->text(), QStringLiteral("未选择"));
        QVERIFY(!part<QPushButton>(dialog, "serialMonitorSend")->isEnabled());
        QCOMPARE(dialog.viewId.size(), 32);
        QCOMPARE(dialog.log->objectName(), QStringLiteral("serialMonitorLog"));

        Engine engine;
        Channel tcp(&engine, Config::fromJson({{"kind", "tcp-client"}}));
        dialog.setChannel(&tcp);
        QCOMPARE(dialog.channelId, QString());
        QCOMPARE(part<QLabel>(dialog, "serialMonitorSource")->text(), QStringLiteral("未选择串口"));
    }

    void replayShowsTheNewest200OfItsChannel()
    {
        Engine engine;
        Channel* ch = loopChannel(engine);
        journalLines(engine, ch->id, 0, 300, "e");
        journalLines(engine, QStringLiteral("elsewhere"), 0, 5, "x");
        SerialMonitorDialog dialog;
        dialog.setChannel(ch);
        QCOMPARE(dialog.channelId, ch->id);
        QCOMPARE(part<QLabel>(dialog, "serialMonitorConnection")->text(), QStringLiteral("已连接"));
        QVERIFY(part<QPushButton>(dialog, "serialMonitorSend")->isEnabled());
        const QString shown = dialog.log->plainText();
        QVERIFY(shown.contains("[e299]"));
        QVERIFY(shown.contains("[e100]"));
        QVERIFY(!shown.contains("[e099]"));
        QVERIFY(!shown.contains("[x"));
        QCOMPARE(dialog.readPosition(), engine.journal.lastSeq);
    }

    void clearPointAndPauseLimitReplays()
    {
        Engine engine;
        Channel* ch = loopChannel(engine);
        journalLines(engine, ch->id, 0, 3, "old");
        SerialMonitorDialog dialog;
        dialog.setChannel(ch);
        QVERIFY(dialog.log->plainText().contains("[old000]"));
        QTest::mouseClick(part<IconButton>(dialog, "serialMonitorClear"), Qt::LeftButton);
        QCOMPARE(dialog.log->plainText(), QString());
        journalLines(engine, ch->id, 0, 2, "new");
        QTest::mouseClick(part<IconButton>(dialog, "serialMonitorHex"), Qt::LeftButton);
        auto* encoding = part<QComboBox>(dialog, "serialMonitorEncoding");
        encoding->setCurrentText("GBK");
        QString shown = dialog.log->plainText();
        QVERIFY(!shown.contains(QString::fromLatin1(QByteArray("[old").toHex(' ').toUpper())));
        QVERIFY(shown.contains(QString::fromLatin1(QByteArray("[new000]").toHex(' ').toUpper())));
        QTest::mouseClick(part<IconButton>(dialog, "serialMonitorHex"), Qt::LeftButton);

        // Paused: a replay shows nothing newer than what was shown.
        QTest::mouseClick(part<IconButton>(dialog, "serialMonitorPause"), Qt::LeftButton);
        QCOMPARE(part<IconButton>(dialog, "serialMonitorPause")->toolTip(), QStringLiteral("继续小窗显示"));
        journalLines(engine, ch->id, 0, 1, "late");
        encoding->setCurrentText("utf-8");
        shown = dialog.log->plainText();
        QVERIFY(shown.contains("[new001]"));
        QVERIFY(!shown.contains("[late000]"));
    }

    // A character cut between two reads, in the window's own encoding.
    void splitCharacterKeepsTheNextByte_data()
    {
        QTest::addColumn<QString>("encoding");
        QTest::addColumn<QByteArray>("first");
        QTest::addColumn<QByteArray>("second");
        QTest::addColumn<QString>("line");
        QTest::newRow("utf-8 lead byte, then @") << QStringLiteral("utf-8") << QByteArray("BND1 \xdb")
                                                 << QByteArray("@after\r\n") << QStringLiteral("BND1 \ufffd@after");
        QTest::newRow("GBK character split") << QStringLiteral("GBK") << QByteArray("BND2 \xd6")
                                             << QByteArray("\xd0!\r\n") << QString::fromUtf8("BND2 中!");
    }
    void splitCharacterKeepsTheNextByte()
    {
        QFETCH(QString, encoding);
        QFETCH(QByteArray, first);
        QFETCH(QByteArray, second);
        QFETCH(QString, line);
        Engine engine;
        Channel* ch = loopChannel(engine);
        SerialMonitorDialog dialog;
        part<QComboBox>(dialog, "serialMonitorEncoding")->setCurrentText(encoding);
        dialog.setChannel(ch);
        dialog.show();
        ch->receive(first, QString());
        QTRY_VERIFY(dialog.readPosition() == engine.journal.lastSeq);
        ch->receive(second, QString());
        QTRY_VERIFY(dialog.log->plainText().contains(line));
    }

    void journalGapIsAnnounced()
    {
        Engine engine;
        Channel* ch = loopChannel(engine);
        SerialMonitorDialog dialog;
        dialog.setChannel(ch);
        dialog.show();
        QTest::mouseClick(part<IconButton>(dialog, "serialMonitorPause"), Qt::LeftButton);
        journalLines(engine, ch->id, 0, Journal::MaxEvents + 10, "g");
        QTest::mouseClick(part<IconButton>(dialog, "serialMonitorPause"), Qt::LeftButton);
        const QString shown = dialog.log->plainText();
        QVERIFY(shown.contains(QStringLiteral("部分旧数据已被历史缓冲区覆盖")));
        QVERIFY(!shown.contains(QStringLiteral("[g000]")));
    }

    void journalGapShowsThroughTheFilter()
    {
        Engine engine;
        Channel* ch = loopChannel(engine);
        SerialMonitorDialog dialog;
        dialog.setChannel(ch);
        dialog.show();
        QTest::keyClicks(dialog.filterBox, QStringLiteral("nothing-matches-this"));
        QTRY_COMPARE(dialog.log->filter().text, QStringLiteral("nothing-matches-this"));
        QTest::mouseClick(part<IconButton>(dialog, "serialMonitorPause"), Qt::LeftButton);
        journalLines(engine, ch->id, 0, Journal::MaxEvents + 10, "g");
        QTest::mouseClick(part<IconButton>(dialog, "serialMonitorPause"), Qt::LeftButton);
        const LogLines& lines = dialog.log->lines();
        int notices = 0;
        for (int i = 0; i < lines.size(); ++i) {
            const LogLine& line = lines.at(i);
            if (line.text.contains(QStringLiteral("部分旧数据已被历史缓冲区覆盖"))) {
                ++notices;
                QVERIFY(lines.isShown(line));
            } else {
                QVERIFY(!lines.isShown(line));
            }
        }
        QCOMPARE(notices, 1);
    }

    void sendingAndItsRefusals()
    {
        Engine engine;
        Channel* ch = loopChannel(engine);
        SerialMonitorDialog dialog;
        dialog.setChannel(ch);
        dialog.show();
        auto* payload = part<QLineEdit>(dialog, "serialMonitorPayload");
        auto* newline = part<QComboBox>(dialog, "serialMonitorNewline");
        newline->setCurrentIndex(newline->findData("lf"));
        QTest::keyClicks(payload, "hello");
        QTest::keyClick(payload, Qt::Key_Return);
        QCOMPARE(ch->txBytes, qint64(6));
        QCOMPARE(payload->text(), QStringLiteral("hello"));
        QVERIFY(!part<QLabel>(dialog, "serialMonitorMessage")->isVisible());
        QTRY_VERIFY(dialog.log->plainText().contains("hello"));
        QTRY_COMPARE(part<QLabel>(dialog, "serialMonitorStatistics")->text(), QStringLiteral("发送 6 B    接收 6 B"));
        const QJsonArray events = engine.journal.read(0, 100, ch->id).value("events").toArray();
        bool fromMonitor = false;
        for (const QJsonValue& e : events)
            fromMonitor = fromMonitor || e.toObject().value("message").toString() == QLatin1String("control-monitor");
        QVERIFY(fromMonitor);

        {
            QObject transfer;
            ch->transferOwner = &transfer;
            dialog.refresh();
            QVERIFY(!part<QPushButton>(dialog, "serialMonitorSend")->isEnabled());
            QCOMPARE(part<QLabel>(dialog, "serialMonitorConnection")->text(), QStringLiteral("文件传输中"));
            QTest::keyClick(payload, Qt::Key_Return);
            QCOMPARE(part<QLabel>(dialog, "serialMonitorMessage")->text(),
                     QStringLiteral("串口正在传输文件，请在传输完成后发送"));
            QVERIFY(part<QLabel>(dialog, "serialMonitorMessage")->isVisible());
        }
        dialog.sendCurrent();
        QVERIFY(!part<QLabel>(dialog, "serialMonitorMessage")->isVisible());
        QCOMPARE(ch->txBytes, qint64(12));

        ch->status(QStringLiteral("reconnecting"), QStringLiteral("串口已断开"));
        QTest::mouseClick(part<QPushButton>(dialog, "serialMonitorSend"), Qt::LeftButton);   // disabled soon
        dialog.sendCurrent();
        auto* message = part<QLabel>(dialog, "serialMonitorMessage");
        QVERIFY(message->isVisible());
        QCOMPARE(message->text(), QStringLiteral("请先在控件页选择已建立的串口连接"));
        QCOMPARE(ch->txBytes, qint64(12));
        QCOMPARE(payload->text(), QStringLiteral("hello"));
        QTRY_VERIFY(!part<QPushButton>(dialog, "serialMonitorSend")->isEnabled());
    }

    void settingsRoundTrip()
    {
        SerialMonitorDialog dialog;
        QTest::mouseClick(part<IconButton>(dialog, "serialMonitorHex"), Qt::LeftButton);
        QTest::mouseClick(part<IconButton>(dialog, "serialMonitorTimestamps"), Qt::LeftButton);
        part<QComboBox>(dialog, "serialMonitorEncoding")->setCurrentText("GBK");
        part<QComboBox>(dialog, "serialMonitorNewline")->setCurrentIndex(2);
        dialog.filterBox->setText("abc");
        dialog.filterBox->rebuild();
        const QJsonObject saved = dialog.settings();
        QCOMPARE(saved.value("hex").toBool(), true);
        QCOMPARE(saved.value("timestamps").toBool(), false);
        QCOMPARE(saved.value("follow").toBool(), true);
        QCOMPARE(saved.value("encoding").toString(), QStringLiteral("GBK"));
        QCOMPARE(saved.value("newline").toString(), QStringLiteral("cr"));
        QCOMPARE(saved.value("search_filter").toObject().value("text").toString(), QStringLiteral("abc"));
        QVERIFY(!QByteArray::fromBase64(saved.value("geometry").toString().toLatin1()).isEmpty());

        SerialMonitorDialog other;
        QSignalSpy changed(&other, &SerialMonitorDialog::configurationChanged);
        other.restore(saved);
        QCOMPARE(other.settings().value("hex"), saved.value("hex"));
        QCOMPARE(other.settings().value("newline"), saved.value("newline"));
        QCOMPARE(other.settings().value("encoding"), saved.value("encoding"));
        QCOMPARE(other.filterBox->text(), QStringLiteral("abc"));
        QCOMPARE(other.log->hexMode, true);
        QCOMPARE(other.log->timestamps, false);

        // Data matching is exact: "LF" is no item's data, so the first item is chosen;
        // an unknown encoding leaves the current one.
        other.restore({{"newline", "LF"}, {"encoding", "latin9"}});
        QCOMPARE(part<QComboBox>(other, "serialMonitorNewline")->currentIndex(), 0);
        QCOMPARE(part<QComboBox>(other, "serialMonitorEncoding")->currentText(), QStringLiteral("GBK"));
        QCOMPARE(other.settings().value("hex").toBool(), false);
    }

    void appearanceReachesTheLogAndButtons()
    {
        SerialMonitorDialog dialog;
        QFont font(QStringList{QStringLiteral("DejaVu Sans Mono"), QStringLiteral("WenQuanYi Micro Hei")}, -1,
                   QFont::Bold, true);
        font.setPointSizeF(10.5);
        const Theme dark = Theme::make(true);
        dialog.setAppearance(dark, font);
        QCOMPARE(dialog.log->styleSheet(),
                 QStringLiteral("font-family: 'DejaVu Sans Mono', 'WenQuanYi Micro Hei'; font-size: 10.5pt; "
                                "font-weight: 700; font-style: italic;"));
        QCOMPARE(dialog.log->theme, dark);
        for (IconButton* b : dialog.findChildren<IconButton*>())
            QCOMPARE(b->theme, dark);
        font.setPointSize(12);
        font.setItalic(false);
        dialog.setAppearance(dark, font);
        QVERIFY(dialog.log->styleSheet().contains(QStringLiteral("font-size: 12pt;")));
        QVERIFY(dialog.log->styleSheet().endsWith(QStringLiteral("font-style: normal;")));
    }

    void panelOwnsTheWindow()
    {
        Engine engine;
        Channel* ch = loopChannel(engine);
        SerialControlPanel panel;
        panel.restore({{"monitor", QJsonObject{{"hex", true}}}});
        panel.setChannel(ch);
        panel.show();
        QCOMPARE(panel.receiveMonitor(), nullptr);
        auto* toggle = panel.findChild<QPushButton*>("controlMonitorToggle");
        QTest::mouseClick(toggle, Qt::LeftButton);
        SerialMonitorDialog* window = panel.receiveMonitor();
        QVERIFY(window);
        QVERIFY(window->isVisible());
        QCOMPARE(window->channelId, ch->id);
        QCOMPARE(window->settings().value("hex").toBool(), true);

        QSignalSpy changed(&panel, &SerialControlPanel::changed);
        window->close();
        QVERIFY(!toggle->isChecked());
        QVERIFY(changed.wait(20000));
        QCOMPARE(panel.settings().value("monitor").toObject().value("hex").toBool(), true);

        // Switching the panel's channel rebinds the window.
        panel.setChannel(nullptr);
        QCOMPARE(window->channelId, QString());
        QSignalSpy zoom(&panel, &SerialControlPanel::zoomRequested);
        Q_EMIT window->log->zoomRequested(1);
        QCOMPARE(zoom.count(), 1);
    }
};

QTEST_MAIN(SerialMonitorTest)
#include "SerialMonitorTest.moc"
