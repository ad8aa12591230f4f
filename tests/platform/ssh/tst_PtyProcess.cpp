#include "platform/PtyProcess.h"

#include <QElapsedTimer>
#include <QTest>

#include <thread>

using vn::PtyProcess;

namespace {

QProcessEnvironment plainEnvironment()
{
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("TERM"), QStringLiteral("xterm-256color"));
    return environment;
}

// Everything the program draws until its terminal closes.
QByteArray readToEnd(PtyProcess& pty)
{
    QByteArray all;
    char buffer[4096];
    for (;;) {
        const PtyProcess::Result r = pty.read(buffer, sizeof buffer, 10000);
        if (r.io != PtyProcess::Io::Done)
            return all;
        all.append(buffer, r.count);
    }
}

int waitExit(PtyProcess& pty)
{
    QElapsedTimer timer;
    timer.start();
    while (timer.elapsed() < 10000) {
        if (const auto code = pty.exitCode())
            return *code;
        QTest::qSleep(5);
    }
    return -1000;
}

} // namespace

class PtyProcessTest : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void exitCodes_data()
    {
        QTest::addColumn<QString>("script");
        QTest::addColumn<int>("code");
        QTest::newRow("normal") << "printf done; exit 0" << 0;
        QTest::newRow("failure") << "exit 3" << 3;
        QTest::newRow("killed") << "kill -KILL $$" << 128 + 9;
        QTest::newRow("terminated") << "kill -TERM $$" << 128 + 15;
    }
    void exitCodes()
    {
        QFETCH(QString, script);
        QFETCH(int, code);
        PtyProcess pty;
        QVERIFY2(pty.start(QStringLiteral("sh"), {QStringLiteral("-c"), script}, QSize(80, 24),
                           plainEnvironment()),
                 qPrintable(pty.errorString()));
        readToEnd(pty);
        QCOMPARE(waitExit(pty), code);
    }

    void childHasAControllingTerminal()
    {
        PtyProcess pty;
        QVERIFY(pty.start(QStringLiteral("sh"),
                          {QStringLiteral("-c"),
                           QStringLiteral("test -t 0 && test -t 1 && test -t 2 && tty && ps -o sid= -p $$ && echo pid=$$")},
                          QSize(80, 24), plainEnvironment()));
        const QByteArray out = readToEnd(pty);
        QVERIFY2(out.contains("/dev/pts/"), out.constData());
        // The child leads its own session.
        QVERIFY2(out.contains("pid=" + QByteArray::number(pty.processId())), out.constData());
        QCOMPARE(waitExit(pty), 0);
    }

    void argumentsAreNotQuoted()
    {
        PtyProcess pty;
        QVERIFY(pty.start(QStringLiteral("printf"),
                          {QStringLiteral("[%s]"), QStringLiteral("a \"b\" \\c"), QString()},
                          QSize(80, 24), plainEnvironment()));
        QCOMPARE(readToEnd(pty), QByteArray("[a \"b\" \\c][]"));
        QCOMPARE(waitExit(pty), 0);
    }

    void environmentIsExactlyTheGivenOne()
    {
        QProcessEnvironment environment;
        environment.insert(QStringLiteral("ONLY"), QStringLiteral("this"));
        PtyProcess pty;
        QVERIFY(pty.start(QStringLiteral("/usr/bin/env"), {}, QSize(80, 24), environment));
        QCOMPARE(readToEnd(pty).trimmed(), QByteArray("ONLY=this"));
    }

    void sizeAndResize()
    {
        PtyProcess pty;
        QVERIFY(pty.start(QStringLiteral("sh"),
                          {QStringLiteral("-c"), QStringLiteral("stty size; read line; stty size")},
                          QSize(91, 27), plainEnvironment()));
        char buffer[256];
        QByteArray out;
        while (!out.contains("27 91")) {
            const PtyProcess::Result r = pty.read(buffer, sizeof buffer, 10000);
            QCOMPARE(r.io, PtyProcess::Io::Done);
            out.append(buffer, r.count);
        }
        pty.resize(QSize(132, 43));
        QCOMPARE(pty.write("\n", 1).io, PtyProcess::Io::Done);
        QVERIFY2(readToEnd(pty).contains("43 132"), "resized terminal not seen");
    }

    void inputReachesTheProgram()
    {
        PtyProcess pty;
        QVERIFY(pty.start(QStringLiteral("sh"),
                          {QStringLiteral("-c"), QStringLiteral("read a; echo \"got:$a\"")},
                          QSize(80, 24), plainEnvironment()));
        QCOMPARE(pty.write("hello\n", 6).count, qint64(6));
        QVERIFY(readToEnd(pty).contains("got:hello"));
    }

    void missingProgramFailsWithTheSystemError()
    {
        PtyProcess pty;
        QVERIFY(!pty.start(QStringLiteral("vn-no-such-program"), {}, QSize(80, 24), plainEnvironment()));
        QCOMPARE(pty.errorString(), QStringLiteral("无法启动 SSH 终端，系统错误 2"));
        QVERIFY(!pty.isOpen());
    }

    void wakeEndsBlockedCallsAndTerminateEndsTheChild()
    {
        PtyProcess pty;
        QVERIFY(pty.start(QStringLiteral("sleep"), {QStringLiteral("60")}, QSize(80, 24),
                          plainEnvironment()));
        PtyProcess::Io seen = PtyProcess::Io::Done;
        std::thread reader([&] {
            char buffer[64];
            seen = pty.read(buffer, sizeof buffer).io;
        });
        QTest::qSleep(50);
        pty.wake();
        reader.join();
        QCOMPARE(seen, PtyProcess::Io::Woken);
        // Ended by SIGTERM, so the grace for SIGKILL was never waited out; a
        // slow machine only makes the reaping slower.
        pty.terminate();
        QCOMPARE(*pty.exitCode(), 128 + 15);
        pty.release();
    }

    void stubbornChildIsKilled()
    {
        PtyProcess pty;
        QVERIFY(pty.start(QStringLiteral("sh"),
                          {QStringLiteral("-c"), QStringLiteral("trap '' TERM; echo ready; while :; do sleep 1; done")},
                          QSize(80, 24), plainEnvironment()));
        char buffer[64];
        QCOMPARE(pty.read(buffer, sizeof buffer, 10000).io, PtyProcess::Io::Done);
        pty.terminate(100);
        QCOMPARE(*pty.exitCode(), 128 + 9);
    }
};

QTEST_GUILESS_MAIN(PtyProcessTest)
#include "tst_PtyProcess.moc"
