#include "core/script/FrameScriptProcessor.h"

#include "core/script/FrameScriptProgram.h"
#include "core/script/FrameScriptRuntime.h"
#include "core/script/ScriptError.h"

#include <QMap>

#include <atomic>
#include <exception>

namespace vn {

// Shared by the processor and every job in flight. `generation` is the only
// field both threads touch; the rest belongs to the worker thread alone.
struct FrameScriptProcessor::WorkerState {
    std::atomic<int> generation{0};
    int failedGeneration = -1;
    std::shared_ptr<const FrameScriptProgram> program;
    QMap<QString, std::shared_ptr<FrameScriptRuntime>> runtimes;
};

FrameScriptProcessor::FrameScriptProcessor(QObject* parent)
    : QObject(parent), state(std::make_shared<WorkerState>())
{
    thread.setObjectName(QStringLiteral("FrameScriptWorker"));
    worker = new QObject;
    worker->moveToThread(&thread);
    connect(&thread, &QThread::finished, worker, &QObject::deleteLater);
    thread.start(QThread::InheritPriority);
}

FrameScriptProcessor::~FrameScriptProcessor()
{
    // Jobs still queued see a newer generation and do nothing; a chunk that is
    // running is bounded by the interpreter's limits, so the wait ends.
    state->generation.fetch_add(1);
    thread.quit();
    thread.wait();
}

void FrameScriptProcessor::configure(std::shared_ptr<const FrameScriptProgram> program)
{
    const int g = state->generation.fetch_add(1) + 1;
    QMetaObject::invokeMethod(
        worker,
        [s = state, g, program = std::move(program)]() mutable {
            if (s->generation.load() != g)
                return;
            s->program = std::move(program);
            s->failedGeneration = -1;
            s->runtimes.clear();
        },
        Qt::QueuedConnection);
}

void FrameScriptProcessor::submit(const QByteArray& data, const QString& peer, qint64 eventSeq)
{
    if (MaxBytes - queuedBytes < data.size() || queuedBatches > MaxBatches - 1) {
        Q_EMIT failed(QStringLiteral("脚本处理队列已满，解析已停用；原始收发数据继续记录"));
        return;
    }
    queuedBatches += 1;
    queuedBytes += data.size();
    const int g = state->generation.load();
    QMetaObject::invokeMethod(
        worker,
        [this, s = state, g, data, peer, eventSeq]() {
            QJsonArray frames;
            QString error;
            int buffered = 0;
            if (g == s->generation.load() && s->program && g != s->failedGeneration) {
                try {
                    auto found = s->runtimes.find(peer);
                    if (found == s->runtimes.end()) {
                        if (s->runtimes.size() >= MaxRuntimes)
                            s->runtimes.erase(s->runtimes.begin());
                        found = s->runtimes.insert(peer,
                                                   std::make_shared<FrameScriptRuntime>(s->program));
                    }
                    frames = (*found)->feed(data);
                    buffered = (*found)->bufferedBytes();
                } catch (const ScriptError& e) {
                    error = e.display();
                    s->failedGeneration = g;
                } catch (const std::exception& e) {
                    error = QString::fromUtf8(e.what());
                    s->failedGeneration = g;
                }
            }
            // `this` is only used as the receiver of the queued call: the
            // destructor waits for this thread before the processor goes, and
            // Qt discards calls still queued for a destroyed receiver.
            QMetaObject::invokeMethod(
                this,
                [this, g, size = qint64(data.size()), peer, frames, error, buffered, eventSeq]() {
                    deliver(g, size, peer, frames, error, buffered, eventSeq);
                },
                Qt::QueuedConnection);
        },
        Qt::QueuedConnection);
}

void FrameScriptProcessor::deliver(int g, qint64 size, const QString& peer,
                                   const QJsonArray& frames, const QString& error, int buffered,
                                   qint64 eventSeq)
{
    queuedBatches -= 1;
    queuedBytes -= size;
    if (g != state->generation.load())
        return;
    if (!error.isEmpty()) {
        Q_EMIT failed(error);
        return;
    }
    if (!frames.isEmpty())
        Q_EMIT samplesReady(peer, frames, eventSeq);
    Q_EMIT batchFinished(buffered);
}

} // namespace vn
