#pragma once

#include <QObject>
#include <QProcessEnvironment>
#include <QSize>
#include <QString>
#include <QStringList>
#include <QTimer>

#include <memory>

namespace vn {

// Runs one external program (in practice the OpenSSH client) in a pseudo
// terminal of its own, so that it prints prompts, colours and cursor movement
// as in a terminal window. A reader thread turns the terminal's output into
// `output` signals on the owner's thread; a writer thread feeds queued
// keyboard bytes in; a 20 ms timer notices the end of the program and reports
// its exit code after all of its output.
class SshProcess : public QObject {
    Q_OBJECT
public:
    static constexpr qint64 MaxQueuedBytes = 1048576;      // pending keyboard input
    // Output not yet taken by the owner. Everything posted is delivered in
    // one turn of the owner's loop, so this bounds that turn; beyond it the
    // reader waits and the terminal holds the remote side back.
    static constexpr qint64 MaxUndeliveredBytes = 262144;
    static constexpr int ChunkSize = 16384;

    explicit SshProcess(QObject* parent = nullptr);
    ~SshProcess() override;

    // Columns 2..500, rows 1..200.
    static QSize clampSize(QSize size);

    bool start(const QString& program, const QStringList& arguments, QSize size,
               QProcessEnvironment environment);
    // The size of data when queued; -1 when refused (not running, stopping,
    // the queue would pass 1 MiB, or the terminal no longer takes input).
    qint64 write(const QByteArray& data);
    void resize(QSize size);
    // Ends everything; emits nothing. Safe at any time and repeatedly.
    void stop();
    QString errorString() const;

Q_SIGNALS:
    void output(const QByteArray& bytes);
    void finished(int exitCode);

private:
    void checkExit();
    void deliver(const QByteArray& bytes);
    void drained(quint64 generation);

    struct Impl;
    std::unique_ptr<Impl> d;
    QTimer exitTimer;
};

} // namespace vn
