#include "core/script/FrameScriptProcessor.h"
#include "core/script/FrameScriptProgram.h"

#include <QDir>
#include <QFile>
#include <QJsonObject>
#include <QSignalSpy>
#include <QTest>

using namespace vn;

namespace {

const QString QueueFull = QStringLiteral("脚本处理队列已满，解析已停用；原始收发数据继续记录");

std::shared_ptr<const FrameScriptProgram> program(const QString& body)
{
    return FrameScriptProgram::compile(
        QStringLiteral("void main(const uint8_t data[], int length) {\n") + body + QStringLiteral("\n}\n"));
}

// Keeps whatever buffer the script is fed, and emits the first byte of every chunk.
std::shared_ptr<const FrameScriptProgram> echo()
{
    return program(QStringLiteral("buffer_append(data); if (length > 0) emit(\"b\", data[0]);"));
}

// Names of this process's threads, as the kernel reports them.
QStringList threadNames()
{
    QStringList names;
    const QDir tasks(QStringLiteral("/proc/self/task"));
    for (const QString& task : tasks.entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
        QFile comm(tasks.filePath(task + QStringLiteral("/comm")));
        if (comm.open(QIODevice::ReadOnly))
            names << QString::fromUtf8(comm.readAll()).trimmed();
    }
    return names;
}

} // namespace

class FrameScriptProcessorTest : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void framesComeBackOnTheOwnerThread()
    {
        FrameScriptProcessor processor;
        processor.configure(FrameScriptProgram::compile(FrameScriptProgram::example()));
        QSignalSpy samples(&processor, &FrameScriptProcessor::samplesReady);
        QSignalSpy finished(&processor, &FrameScriptProcessor::batchFinished);
        QThread* owner = QThread::currentThread();
        bool onOwner = true;
        connect(&processor, &FrameScriptProcessor::samplesReady, this,
                [&] { onOwner = onOwner && QThread::currentThread() == owner; });
        processor.submit(QByteArray::fromHex("AA55C409E40CBC0DAA55"), QString(), 41);
        QTRY_COMPARE(finished.size(), 1);
        QCOMPARE(samples.size(), 1);
        QCOMPARE(samples.at(0).at(0).toString(), QString());
        const QJsonArray frames = samples.at(0).at(1).toJsonArray();
        QCOMPARE(frames.size(), 1);
        QCOMPARE(frames.at(0).toObject().value(QStringLiteral("温度")).toDouble(), 25.0);
        QCOMPARE(samples.at(0).at(2).toLongLong(), 41);
        QCOMPARE(finished.at(0).at(0).toInt(), 2);
        QVERIFY(onOwner);
        QCOMPARE(processor.pendingBatches(), 0);
        QCOMPARE(processor.pendingBytes(), 0);

        // A chunk without frames only finishes, with the bytes left buffered.
        processor.submit(QByteArray::fromHex("C409"), QString(), 42);
        QTRY_COMPARE(finished.size(), 2);
        QCOMPARE(samples.size(), 1);
        QCOMPARE(finished.at(1).at(0).toInt(), 4);
    }

    void workerThreadIsNamed()
    {
        // A finished thread may linger a moment in the kernel after wait().
        QTRY_COMPARE(int(threadNames().count(QStringLiteral("FrameScriptWork"))), 0);
        const int before = 0;
        {
            FrameScriptProcessor processor;
            // Linux keeps 15 characters of a thread name.
            QTRY_COMPARE(int(threadNames().count(QStringLiteral("FrameScriptWork"))), before + 1);
        }
        QTRY_COMPARE(int(threadNames().count(QStringLiteral("FrameScriptWork"))), before);
    }

    void noProgramFinishesWithZero()
    {
        FrameScriptProcessor processor;
        QSignalSpy finished(&processor, &FrameScriptProcessor::batchFinished);
        QSignalSpy failed(&processor, &FrameScriptProcessor::failed);
        processor.submit("abc", QString(), 1);
        QTRY_COMPARE(finished.size(), 1);
        QCOMPARE(finished.at(0).at(0).toInt(), 0);
        QCOMPARE(failed.size(), 0);
    }

    void queueBoundaryOfBatches()
    {
        // Answers reach the owner only through its event loop, so without one
        // every submitted chunk stays in flight.
        FrameScriptProcessor processor;
        processor.configure(echo());
        QSignalSpy failed(&processor, &FrameScriptProcessor::failed);
        QSignalSpy finished(&processor, &FrameScriptProcessor::batchFinished);
        for (int i = 0; i < 127; ++i)
            processor.submit("x", QString(), i);
        QCOMPARE(processor.pendingBatches(), 127);
        processor.submit("x", QString(), 127);     // 127 in flight: accepted
        QCOMPARE(processor.pendingBatches(), 128);
        QCOMPARE(failed.size(), 0);
        processor.submit("x", QString(), 128);     // 128 in flight: refused at once
        QCOMPARE(failed.size(), 1);
        QCOMPARE(failed.at(0).at(0).toString(), QueueFull);
        QCOMPARE(processor.pendingBatches(), 128);
        QTRY_COMPARE(finished.size(), 128);
        QCOMPARE(processor.pendingBatches(), 0);
        QCOMPARE(processor.pendingBytes(), 0);
        QCOMPARE(finished.last().at(0).toInt(), 128);
    }

    void queueBoundaryOfBytes()
    {
        FrameScriptProcessor processor;
        processor.configure(program(QStringLiteral(";")));
        QSignalSpy failed(&processor, &FrameScriptProcessor::failed);
        QSignalSpy finished(&processor, &FrameScriptProcessor::batchFinished);
        processor.submit(QByteArray(262145, 'a'), QString(), 1);
        QCOMPARE(failed.size(), 1);
        QCOMPARE(failed.at(0).at(0).toString(), QueueFull);
        QCOMPARE(processor.pendingBatches(), 0);
        processor.submit(QByteArray(262144, 'a'), QString(), 2);
        QCOMPARE(processor.pendingBytes(), 262144);
        processor.submit(QByteArray(1, 'a'), QString(), 3);
        QCOMPARE(failed.size(), 2);
        QTRY_COMPARE(finished.size(), 1);
        processor.submit(QByteArray(200000, 'a'), QString(), 4);
        processor.submit(QByteArray(62144, 'a'), QString(), 5);
        QCOMPARE(processor.pendingBytes(), 262144);
        QCOMPARE(failed.size(), 2);
        QTRY_COMPARE(finished.size(), 3);
    }

    void reconfigureDropsStaleResults()
    {
        FrameScriptProcessor processor;
        processor.configure(echo());
        QSignalSpy samples(&processor, &FrameScriptProcessor::samplesReady);
        QSignalSpy finished(&processor, &FrameScriptProcessor::batchFinished);
        QSignalSpy failed(&processor, &FrameScriptProcessor::failed);
        processor.submit("a", QString(), 1);
        processor.submit("b", QString(), 2);
        processor.submit("c", QString(), 3);
        processor.configure(program(QStringLiteral("emit(\"n\", length);")));
        QTRY_COMPARE(processor.pendingBatches(), 0);
        QCOMPARE(processor.pendingBytes(), 0);
        QCOMPARE(samples.size(), 0);
        QCOMPARE(finished.size(), 0);
        QCOMPARE(failed.size(), 0);

        // The new program runs on fresh runtimes.
        processor.submit("xyz", QString(), 4);
        QTRY_COMPARE(finished.size(), 1);
        QCOMPARE(samples.size(), 1);
        QCOMPARE(samples.at(0).at(1).toJsonArray().at(0).toObject().value("n").toInt(), 3);
        QCOMPARE(finished.at(0).at(0).toInt(), 0);

        // Many generations in a row: only the last one's results arrive.
        for (int g = 0; g < 20; ++g) {
            processor.submit("q", QString(), 100 + g);
            processor.configure(g == 19 ? echo() : program(QStringLiteral("emit(\"stale\", 1);")));
        }
        processor.submit("z", QString(), 200);
        QTRY_COMPARE(finished.size(), 2);
        QTRY_COMPARE(processor.pendingBatches(), 0);
        QCOMPARE(samples.size(), 2);
        QCOMPARE(samples.at(1).at(2).toLongLong(), 200);
        QCOMPARE(samples.at(1).at(1).toJsonArray().at(0).toObject().value("b").toInt(), int('z'));
    }

    void failureStopsTheGeneration()
    {
        FrameScriptProcessor processor;
        processor.configure(program(QStringLiteral("if (data[0] == 2) emit(\"x\", 1 / 0);\nbuffer_append(data); emit(\"v\", data[0]);")));
        QSignalSpy samples(&processor, &FrameScriptProcessor::samplesReady);
        QSignalSpy finished(&processor, &FrameScriptProcessor::batchFinished);
        QSignalSpy failed(&processor, &FrameScriptProcessor::failed);
        for (char c = 1; c <= 5; ++c)
            processor.submit(QByteArray(1, c), QString(), c);
        QTRY_COMPARE(processor.pendingBatches(), 0);
        QCOMPARE(samples.size(), 1);
        QCOMPARE(samples.at(0).at(2).toLongLong(), 1);
        QCOMPARE(failed.size(), 1);
        QCOMPARE(failed.at(0).at(0).toString(), QStringLiteral("第 2 行：除数不能为零"));
        QCOMPARE(finished.size(), 4);
        QCOMPARE(finished.at(0).at(0).toInt(), 1);
        for (int i = 1; i < 4; ++i)
            QCOMPARE(finished.at(i).at(0).toInt(), 0);

        // Configuring again clears the failure.
        processor.configure(echo());
        processor.submit(QByteArray(1, 9), QString(), 6);
        QTRY_COMPARE(samples.size(), 2);
        QCOMPARE(failed.size(), 1);
    }

    void runtimesPerPeerAndEviction()
    {
        FrameScriptProcessor processor;
        processor.configure(echo());
        QSignalSpy finished(&processor, &FrameScriptProcessor::batchFinished);
        processor.submit("1", QStringLiteral("a"), 1);
        processor.submit("22", QStringLiteral("a"), 2);
        processor.submit("1", QStringLiteral("b"), 3);
        QTRY_COMPARE(finished.size(), 3);
        QCOMPARE(finished.at(1).at(0).toInt(), 3);   // "a" keeps its buffer
        QCOMPARE(finished.at(2).at(0).toInt(), 1);   // "b" has its own

        // 31 more peers make 33: the runtime of "a" (first by name) goes.
        for (int i = 1; i <= 31; ++i)
            processor.submit("1", QStringLiteral("p%1").arg(i, 2, 10, QLatin1Char('0')), 10 + i);
        QTRY_COMPARE(finished.size(), 34);
        processor.submit("1", QStringLiteral("b"), 50);
        QTRY_COMPARE(finished.size(), 35);
        QCOMPARE(finished.last().at(0).toInt(), 2);  // "b" survived
        processor.submit("1", QStringLiteral("a"), 51);
        QTRY_COMPARE(finished.size(), 36);
        QCOMPARE(finished.last().at(0).toInt(), 1);  // "a" starts afresh
    }

    void destroyWithWorkInFlight()
    {
        // A slow script and a full queue: destruction finishes the running
        // chunk, drops the rest and delivers nothing afterwards.
        int delivered = 0;
        {
            auto processor = std::make_unique<FrameScriptProcessor>();
            processor->configure(program(QStringLiteral("buffer_append(data); for (int i = 0; i < 20000; i++) ;")));
            connect(processor.get(), &FrameScriptProcessor::batchFinished, this, [&] { ++delivered; });
            connect(processor.get(), &FrameScriptProcessor::failed, this, [&] { ++delivered; });
            for (int i = 0; i < 128; ++i)
                processor->submit(QByteArray(1024, 'x'), QString::number(i % 40), i);
        }
        QCoreApplication::processEvents();
        QTest::qWait(0);
        QCOMPARE(delivered, 0);

        // Destroying while a chunk is running returns once it ends.
        {
            FrameScriptProcessor processor;
            processor.configure(program(QStringLiteral("for (;;) ;")));
            processor.submit("x", QString(), 1);
            QThread::yieldCurrentThread();
        }
        // Many processors at once, each with its own thread.
        {
            std::vector<std::unique_ptr<FrameScriptProcessor>> many;
            for (int i = 0; i < 8; ++i) {
                many.push_back(std::make_unique<FrameScriptProcessor>());
                many.back()->configure(echo());
                for (int k = 0; k < 16; ++k)
                    many.back()->submit("abc", QString(), k);
            }
            QTRY_COMPARE(many.front()->pendingBatches(), 0);
        }
    }

    void parentOwnsProcessor()
    {
        QObject owner;
        auto* processor = new FrameScriptProcessor(&owner);
        processor->configure(echo());
        processor->submit("abc", QString(), 1);
        QCOMPARE(processor->parent(), &owner);
    }
};

QTEST_GUILESS_MAIN(FrameScriptProcessorTest)
#include "tst_frame_script_processor.moc"
