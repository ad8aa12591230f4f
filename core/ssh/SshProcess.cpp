#include "core/ssh/SshProcess.h"

#include "platform/PtyProcess.h"

#include <QMetaObject>

#include <atomic>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <thread>

namespace vn {

struct SshProcess::Impl {
    QString error;
    PtyProcess pty;
    std::thread reader;
    std::thread writer;

    // Keyboard input: guarded by `mutex`, wakes the writer through `wake`.
    std::mutex mutex;
    std::condition_variable wake;
    std::deque<QByteArray> queue;
    qint64 queuedBytes = 0;
    bool stopping = false;
    bool accepting = false;    // a terminal exists that takes input
    bool writerFailed = false; // the terminal refused input; nothing more will be written

    // Output flow: the reader pauses while too much waits for the owner.
    std::mutex flowMutex;
    std::condition_variable flow;
    qint64 undelivered = 0;
    bool flowStopped = false;

    // End of the program, as seen by the owner's thread and the reader.
    std::atomic<bool> draining{false};
    std::atomic<bool> readerEnded{false};
    quint64 generation = 0;
    bool exitSeen = false;
    int exitCode = 0;
};

SshProcess::SshProcess(QObject* parent)
    : QObject(parent)
    , d(std::make_unique<Impl>())
{
    exitTimer.setInterval(20);
    connect(&exitTimer, &QTimer::timeout, this, &SshProcess::checkExit);
}

SshProcess::~SshProcess()
{
    stop();
}

QSize SshProcess::clampSize(QSize size)
{
    return {qBound(2, size.width(), 500), qBound(1, size.height(), 200)};
}

bool SshProcess::start(const QString& program, const QStringList& arguments, QSize size,
                       QProcessEnvironment environment)
{
    stop();
    d->error.clear();
    environment.insert(QStringLiteral("TERM"), QStringLiteral("xterm-256color"));
    if (!d->pty.start(program, arguments, clampSize(size), environment)) {
        d->error = d->pty.errorString();
        stop();
        return false;
    }
    {
        std::lock_guard lock(d->mutex);
        d->stopping = false;
        d->accepting = true;
        d->writerFailed = false;
    }
    {
        std::lock_guard lock(d->flowMutex);
        d->flowStopped = false;
    }
    d->draining = false;
    d->readerEnded = false;
    d->exitSeen = false;
    const quint64 generation = ++d->generation;

    Impl* impl = d.get();
    d->reader = std::thread([this, impl, generation] {
        char buffer[ChunkSize];
        for (;;) {
            // Short polls let a reader notice the end of the program even
            // when something else still holds the terminal open.
            const bool draining = impl->draining.load();
            const PtyProcess::Result r = impl->pty.read(buffer, ChunkSize, draining ? 100 : 50);
            if (r.io == PtyProcess::Io::TimedOut) {
                if (draining)
                    break;
                continue;
            }
            if (r.io != PtyProcess::Io::Done)
                break;
            QByteArray chunk(buffer, static_cast<qsizetype>(r.count));
            std::unique_lock lock(impl->flowMutex);
            impl->undelivered += chunk.size();
            QMetaObject::invokeMethod(
                this, [this, chunk] { deliver(chunk); }, Qt::QueuedConnection);
            impl->flow.wait(lock, [impl] {
                return impl->flowStopped || impl->undelivered <= MaxUndeliveredBytes;
            });
            if (impl->flowStopped)
                break;
        }
        impl->readerEnded = true;
        QMetaObject::invokeMethod(
            this, [this, generation] { drained(generation); }, Qt::QueuedConnection);
    });
    d->writer = std::thread([impl] {
        for (;;) {
            std::unique_lock lock(impl->mutex);
            impl->wake.wait(lock, [impl] { return impl->stopping || !impl->queue.empty(); });
            if (impl->stopping)
                return;
            const QByteArray chunk = std::move(impl->queue.front());
            impl->queue.pop_front();
            impl->queuedBytes -= chunk.size();
            lock.unlock();
            const char* at = chunk.constData();
            qint64 left = chunk.size();
            while (left > 0) {
                const PtyProcess::Result r = impl->pty.write(at, left);
                if (r.io != PtyProcess::Io::Done || r.count <= 0) {
                    lock.lock();
                    impl->writerFailed = true;
                    impl->queue.clear();
                    impl->queuedBytes = 0;
                    return;
                }
                at += r.count;
                left -= r.count;
            }
        }
    });
    exitTimer.start();
    return true;
}

qint64 SshProcess::write(const QByteArray& data)
{
    std::lock_guard lock(d->mutex);
    if (!d->accepting || d->stopping || d->writerFailed
        || d->queuedBytes + data.size() > MaxQueuedBytes)
        return -1;
    d->queue.push_back(data);
    d->queuedBytes += data.size();
    d->wake.notify_one();
    return data.size();
}

void SshProcess::resize(QSize size)
{
    d->pty.resize(clampSize(size));
}

void SshProcess::stop()
{
    exitTimer.stop();
    {
        std::lock_guard lock(d->mutex);
        d->stopping = true;
        d->accepting = false;
        d->queue.clear();
        d->queuedBytes = 0;
    }
    d->wake.notify_all();
    {
        std::lock_guard lock(d->flowMutex);
        d->flowStopped = true;
    }
    d->flow.notify_all();
    d->pty.terminate();
    d->pty.wake();
    if (d->writer.joinable())
        d->writer.join();
    if (d->reader.joinable())
        d->reader.join();
    d->pty.release();
    d->exitSeen = false;
}

QString SshProcess::errorString() const
{
    return d->error;
}

void SshProcess::checkExit()
{
    const std::optional<int> code = d->pty.exitCode();
    if (!code)
        return;
    exitTimer.stop();
    d->exitSeen = true;
    d->exitCode = *code;
    d->draining = true;
    // The end is reported behind every chunk the reader posted: by the
    // reader's own end notice, or, when it has ended already, by one queued
    // now (after all of its posts).
    if (d->readerEnded) {
        const quint64 generation = d->generation;
        QMetaObject::invokeMethod(
            this, [this, generation] { drained(generation); }, Qt::QueuedConnection);
    }
}

void SshProcess::drained(quint64 generation)
{
    if (generation != d->generation || !d->exitSeen)
        return;
    const int code = d->exitCode;
    stop();
    Q_EMIT finished(code);
}

void SshProcess::deliver(const QByteArray& bytes)
{
    {
        std::lock_guard lock(d->flowMutex);
        d->undelivered -= bytes.size();
    }
    d->flow.notify_all();
    Q_EMIT output(bytes);
}

} // namespace vn
