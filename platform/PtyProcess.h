#pragma once

#include <QByteArray>
#include <QProcessEnvironment>
#include <QSize>
#include <QString>
#include <QStringList>

#include <memory>
#include <optional>

namespace vn {

// A child program attached to a pseudo terminal of its own: it sees a real
// terminal (it is the session leader and the terminal is its controlling one),
// so it prints prompts, colours and cursor movement as in a terminal window.
//
// The object only holds the operating-system resources; the threads that read
// and write belong to the caller. `read` and `write` may run on two other
// threads at once; both return promptly once `wake` has been called, so a
// caller can always end them without hanging on a blocked terminal.
class PtyProcess {
public:
    // What one `read` or `write` call ended with.
    enum class Io {
        Done,     // bytes were moved (the count says how many)
        End,      // the terminal has no writer any more (every holder of its other end closed it)
        Failed,   // the system refused the call
        Woken,    // `wake` was called
        TimedOut, // nothing happened within the time given
    };
    struct Result {
        Io io = Io::Failed;
        qint64 count = 0;
    };

    PtyProcess();
    ~PtyProcess(); // terminates a running child and releases everything
    PtyProcess(const PtyProcess&) = delete;
    PtyProcess& operator=(const PtyProcess&) = delete;

    // Starts the program (looked up on PATH; passed under the given name when
    // the lookup finds nothing) with the argument vector as given (no quoting)
    // and exactly this environment, on a terminal of size.width() columns and
    // size.height() rows. On failure errorString() tells why.
    bool start(const QString& program, const QStringList& arguments, QSize size,
               const QProcessEnvironment& environment);
    QString errorString() const;
    bool isOpen() const;    // the terminal exists (between start and release)
    qint64 processId() const; // 0 when no child is known

    // Reads what the program drew, waiting at most timeoutMs (-1: no limit).
    Result read(char* buffer, qint64 size, int timeoutMs = -1);
    // Writes keyboard bytes, waiting while the terminal's input is full.
    Result write(const char* data, qint64 size);
    // Ends every `read` and `write` in progress and all later ones with Woken.
    void wake();

    void resize(QSize size);

    // The exit code once the child has ended (128 + the signal number for a
    // child killed by a signal); nothing while it runs. Does not block.
    std::optional<int> exitCode();
    // Ends a running child: SIGTERM to its process group, then SIGKILL when it
    // has not gone within graceMs; reaps it. Does nothing when none runs.
    void terminate(int graceMs = 500);
    // Closes the terminal and the wake pipe. Call only when no thread is in
    // `read` or `write` any more.
    void release();

private:
    struct Impl;
    std::unique_ptr<Impl> d;
};

} // namespace vn
