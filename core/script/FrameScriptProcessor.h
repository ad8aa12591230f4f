#pragma once

#include <QJsonArray>
#include <QObject>
#include <QString>
#include <QThread>

#include <memory>

namespace vn {

class FrameScriptProgram;

// Runs the frame scripts of one owner (a serial channel, or the script
// editor's trial parse) on a thread of its own named "FrameScriptWorker".
// Chunks go in with submit(); one runtime per peer feeds them; outcomes come
// back as signals on the owner's thread. At most 128 chunks and 256 KiB are in
// flight; beyond that the processor reports one failure instead of queueing.
class FrameScriptProcessor : public QObject {
    Q_OBJECT
public:
    struct WorkerState;

    static constexpr int MaxBatches = 128;
    static constexpr qint64 MaxBytes = 262144;
    static constexpr int MaxRuntimes = 32;

    explicit FrameScriptProcessor(QObject* parent = nullptr);
    ~FrameScriptProcessor() override;

    // Installs the program (or none) for all later chunks and discards every
    // per-peer runtime; the outcomes of chunks already queued are dropped.
    void configure(std::shared_ptr<const FrameScriptProgram> program);

    // Queues one chunk; emits failed() at once when the queue is full.
    void submit(const QByteArray& data, const QString& peer, qint64 eventSeq);

    // Chunks submitted and not yet answered, and their byte total.
    int pendingBatches() const { return queuedBatches; }
    qint64 pendingBytes() const { return queuedBytes; }

Q_SIGNALS:
    void samplesReady(const QString& peer, const QJsonArray& samples, qint64 eventSequence);
    void batchFinished(int bufferedBytes);
    void failed(const QString& message);

private:
    void deliver(int generation, qint64 size, const QString& peer, const QJsonArray& frames,
                 const QString& error, int buffered, qint64 eventSeq);

    std::shared_ptr<WorkerState> state;
    QThread thread;
    QObject* worker = nullptr;   // lives on `thread`, deleted when it finishes
    qint64 queuedBytes = 0;
    int queuedBatches = 0;
};

} // namespace vn
