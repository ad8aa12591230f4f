#include "core/ssh/SshProcess.h"

#include <QSignalSpy>
#include <QTest>

using vn::SshProcess;

namespace {

QStringList shell(const QString& script)
{
    return {QStringLiteral("-c"), script};
}

// Collects a process's output and its end.
struct Watch {
    explicit Watch(SshProcess& process)
    {
        QObject::connect(&process, &SshProcess::output, &process,
                         [this](const QByteArray& bytes) { output += bytes; });
        QObject::connect(&process, &SshProcess::finished, &process, [this](int code) {
            codes.append(code);
            outputAtFinish = output.size();
        });
    }
    QByteArray output;
    QList<int> codes;
    qsizetype outputAtFinish = -1;
};

} // namespace

class SshProcessTest : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void sizesAreClamped_data()
    {
        QTest::addColumn<QSize>("given");
        QTest::addColumn<QSize>("used");
        QTest::newRow("zero") << QSize(0, 0) << QSize(2, 1);
        QTest::newRow("huge") << QSize(1000, 1000) << QSize(500, 200);
        QTest::newRow("edge") << QSize(500, 200) << QSize(500, 200);
        QTest::newRow("negative") << QSize(-5, -5) << QSize(2, 1);
    }
    void sizesAreClamped()
    {
        QFETCH(QSize, given);
        QFETCH(QSize, used);
        QCOMPARE(SshProcess::clampSize(given), used);
        SshProcess process;
        Watch watch(process);
        QVERIFY(process.start(QStringLiteral("sh"), shell(QStringLiteral("stty size")), given,
                              QProcessEnvironment::systemEnvironment()));
        QTRY_COMPARE(watch.codes.size(), 1);
        QCOMPARE(watch.output.trimmed(), QStringLiteral("%1 %2").arg(used.height()).arg(used.width()).toUtf8());
    }

    void finishedComesOnceAfterAllOutput()
    {
        SshProcess process;
        Watch watch(process);
        QVERIFY(process.start(QStringLiteral("sh"), shell(QStringLiteral("seq 1 30000; exit 7")),
                              QSize(80, 24), QProcessEnvironment::systemEnvironment()));
        QTRY_COMPARE_WITH_TIMEOUT(watch.codes.size(), 1, 20000);
        QCOMPARE(watch.codes.first(), 7);
        QCOMPARE(watch.outputAtFinish, watch.output.size());
        QVERIFY(watch.output.endsWith("29999\r\n30000\r\n"));
        QCOMPARE(watch.output.count('\n'), 30000);
        QTest::qWait(100);
        QCOMPARE(watch.codes.size(), 1);
    }

    void outputHeldOpenByAGrandchildStillEnds()
    {
        // The shell leaves a background job holding the terminal open.
        SshProcess process;
        Watch watch(process);
        QVERIFY(process.start(QStringLiteral("sh"), shell(QStringLiteral("sleep 30 & echo bye; exit 4")),
                              QSize(80, 24), QProcessEnvironment::systemEnvironment()));
        QTRY_COMPARE_WITH_TIMEOUT(watch.codes.size(), 1, 10000);
        QCOMPARE(watch.codes.first(), 4);
        QVERIFY(watch.output.contains("bye"));
    }

    void killedProgramReportsTheSignal()
    {
        SshProcess process;
        Watch watch(process);
        QVERIFY(process.start(QStringLiteral("sh"), shell(QStringLiteral("kill -KILL $$")), QSize(80, 24),
                              QProcessEnvironment::systemEnvironment()));
        QTRY_COMPARE(watch.codes.size(), 1);
        QCOMPARE(watch.codes.first(), 137);
    }

    void termIsAlwaysXterm()
    {
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert(QStringLiteral("TERM"), QStringLiteral("dumb"));
        environment.insert(QStringLiteral("VN_MARK"), QStringLiteral("kept"));
        SshProcess process;
        Watch watch(process);
        QVERIFY(process.start(QStringLiteral("sh"), shell(QStringLiteral("echo $TERM $VN_MARK")),
                              QSize(80, 24), environment));
        QTRY_COMPARE(watch.codes.size(), 1);
        QCOMPARE(watch.output.trimmed(), QByteArray("xterm-256color kept"));
    }

    void inputAndResizeReachTheProgram()
    {
        SshProcess process;
        Watch watch(process);
        QVERIFY(process.start(QStringLiteral("sh"),
                              shell(QStringLiteral("read a; echo \"got:$a\"; read b; stty size")),
                              QSize(80, 24), QProcessEnvironment::systemEnvironment()));
        QCOMPARE(process.write("hello\n"), qint64(6));
        QTRY_VERIFY(watch.output.contains("got:hello"));
        process.resize(QSize(133, 44));
        QCOMPARE(process.write("\n"), qint64(1));
        QTRY_COMPARE(watch.codes.size(), 1);
        QVERIFY(watch.output.contains("44 133"));
    }

    void writeIsRefusedWhenItCannotBeQueued()
    {
        SshProcess process;
        QCOMPARE(process.write("x"), qint64(-1)); // never started
        QVERIFY(process.start(QStringLiteral("sleep"), {QStringLiteral("30")}, QSize(80, 24),
                              QProcessEnvironment::systemEnvironment()));
        QCOMPARE(process.write(QByteArray()), qint64(0));
        QCOMPARE(process.write(QByteArray(SshProcess::MaxQueuedBytes + 1, 'a')), qint64(-1));
        process.stop();
        QCOMPARE(process.write("x"), qint64(-1)); // stopped
    }

    void queueHoldsAtMostOneMebibyte()
    {
        // The program never reads, so the terminal's input fills and the
        // writer blocks; then the queue fills up to exactly 1 MiB.
        SshProcess process;
        Watch watch(process);
        QVERIFY(process.start(QStringLiteral("sh"), shell(QStringLiteral("stty raw -echo; echo ready; sleep 30")),
                              QSize(80, 24), QProcessEnvironment::systemEnvironment()));
        // Raw and silent before the first byte goes in.
        QTRY_VERIFY_WITH_TIMEOUT(watch.output.contains("ready"), 20000);
        QCOMPARE(process.write(QByteArray(256 * 1024, 'a')), qint64(256 * 1024)); // fills the terminal
        // Once the writer has taken that chunk and blocks on the full
        // terminal, the queue takes exactly 1 MiB more, not a byte beyond.
        const QByteArray mebibyte(SshProcess::MaxQueuedBytes, 'b');
        // QTRY_* evaluates its condition more than once: write only until taken.
        qint64 queued = -1;
        QTRY_VERIFY_WITH_TIMEOUT(queued > 0 || (queued = process.write(mebibyte)) > 0, 20000);
        QCOMPARE(queued, qint64(mebibyte.size()));
        QCOMPARE(process.write("c"), qint64(-1));
        QElapsedTimer timer;
        timer.start();
        process.stop(); // must not hang on the blocked writer
        QVERIFY2(timer.elapsed() < 20000, "stop hung on the blocked writer");
    }

    void stopEndsTheProgramWithoutFinished()
    {
        SshProcess process;
        Watch watch(process);
        QVERIFY(process.start(QStringLiteral("sleep"), {QStringLiteral("30")}, QSize(80, 24),
                              QProcessEnvironment::systemEnvironment()));
        QElapsedTimer timer;
        timer.start();
        process.stop();
        process.stop();
        QVERIFY2(timer.elapsed() < 20000, "stop hung");
        QTest::qWait(100);
        QVERIFY(watch.codes.isEmpty());
        SshProcess idle;
        idle.stop();
        idle.stop();
    }

    void restartStopsThePreviousProgram()
    {
        SshProcess process;
        Watch watch(process);
        QVERIFY(process.start(QStringLiteral("sleep"), {QStringLiteral("30")}, QSize(80, 24),
                              QProcessEnvironment::systemEnvironment()));
        QVERIFY(process.start(QStringLiteral("sh"), shell(QStringLiteral("exit 5")), QSize(80, 24),
                              QProcessEnvironment::systemEnvironment()));
        QTRY_COMPARE(watch.codes.size(), 1);
        QCOMPARE(watch.codes.first(), 5);
    }

    void missingProgramFails()
    {
        SshProcess process;
        QVERIFY(!process.start(QStringLiteral("vn-no-such-ssh"), {}, QSize(80, 24),
                               QProcessEnvironment::systemEnvironment()));
        QCOMPARE(process.errorString(), QStringLiteral("无法启动 SSH 终端，系统错误 2"));
        QCOMPARE(process.write("x"), qint64(-1));
        QVERIFY(process.start(QStringLiteral("true"), {}, QSize(80, 24), QProcessEnvironment::systemEnvironment()));
        QVERIFY(process.errorString().isEmpty());
    }

    void floodIsDeliveredWhole()
    {
        SshProcess process;
        qint64 received = 0;
        QList<int> codes;
        connect(&process, &SshProcess::output, this, [&](const QByteArray& bytes) {
            QVERIFY(bytes.size() >= 1 && bytes.size() <= SshProcess::ChunkSize);
            received += bytes.size();
        });
        connect(&process, &SshProcess::finished, this, [&](int code) { codes.append(code); });
        QVERIFY(process.start(QStringLiteral("sh"), shell(QStringLiteral("stty raw; head -c 20000000 /dev/zero")),
                              QSize(80, 24), QProcessEnvironment::systemEnvironment()));
        // The owner stalls: the reader must pause instead of queueing everything.
        QTest::qSleep(500);
        QTRY_COMPARE_WITH_TIMEOUT(codes.size(), 1, 60000);
        QCOMPARE(received, qint64(20000000));
    }
};

QTEST_GUILESS_MAIN(SshProcessTest)
#include "tst_SshProcess.moc"
