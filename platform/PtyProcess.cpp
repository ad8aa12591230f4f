#include "platform/PtyProcess.h"

#include <QStandardPaths>

#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <fcntl.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>
#include <vector>

namespace vn {

namespace {

void closeFd(int& fd)
{
    if (fd >= 0)
        ::close(fd);
    fd = -1;
}

// A NULL-terminated vector of C strings that owns its storage, built before
// fork so that the child only has to call async-signal-safe functions.
class CStringVector {
public:
    explicit CStringVector(const QStringList& items)
    {
        m_storage.reserve(items.size());
        for (const QString& item : items)
            m_storage.push_back(item.toLocal8Bit());
        for (QByteArray& item : m_storage)
            m_pointers.push_back(item.data());
        m_pointers.push_back(nullptr);
    }
    char* const* data() { return m_pointers.data(); }

private:
    std::vector<QByteArray> m_storage;
    std::vector<char*> m_pointers;
};

int codeOf(int status)
{
    if (WIFEXITED(status))
        return WEXITSTATUS(status);
    if (WIFSIGNALED(status))
        return 128 + WTERMSIG(status);
    return -1;
}

winsize windowSize(QSize size)
{
    winsize ws{};
    ws.ws_col = static_cast<unsigned short>(qMax(0, size.width()));
    ws.ws_row = static_cast<unsigned short>(qMax(0, size.height()));
    return ws;
}

} // namespace

struct PtyProcess::Impl {
    QString error;
    int master = -1;
    int wakeRead = -1;
    int wakeWrite = -1;
    pid_t pid = 0;
    bool reaped = false;
    int code = 0;

    QString failWith(const QString& text)
    {
        error = text;
        return error;
    }
};

PtyProcess::PtyProcess()
    : d(std::make_unique<Impl>())
{
}

PtyProcess::~PtyProcess()
{
    terminate(200);
    release();
}

QString PtyProcess::errorString() const
{
    return d->error;
}

bool PtyProcess::isOpen() const
{
    return d->master >= 0;
}

qint64 PtyProcess::processId() const
{
    return d->pid;
}

bool PtyProcess::start(const QString& program, const QStringList& arguments, QSize size,
                       const QProcessEnvironment& environment)
{
    terminate(200);
    release();
    d->error.clear();

    const QString located = QStandardPaths::findExecutable(program);
    const QByteArray path = (located.isEmpty() ? program : located).toLocal8Bit();
    CStringVector argv(QStringList{program} + arguments);
    CStringVector envp(environment.toStringList());

    int wake[2];
    if (::pipe2(wake, O_CLOEXEC | O_NONBLOCK) != 0) {
        d->failWith(QStringLiteral("无法创建 SSH 终端管道"));
        return false;
    }
    d->wakeRead = wake[0];
    d->wakeWrite = wake[1];

    int master = ::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    char slaveName[128] = {};
    if (master < 0 || ::grantpt(master) != 0 || ::unlockpt(master) != 0
        || ::ptsname_r(master, slaveName, sizeof slaveName) != 0) {
        closeFd(master);
        release();
        d->failWith(QStringLiteral("无法创建系统伪终端"));
        return false;
    }
    const winsize ws = windowSize(size);
    ::ioctl(master, TIOCSWINSZ, &ws);
    int slave = ::open(slaveName, O_RDWR | O_NOCTTY | O_CLOEXEC);
    int report[2] = {-1, -1};
    if (slave < 0 || ::pipe2(report, O_CLOEXEC) != 0) {
        closeFd(slave);
        closeFd(master);
        release();
        d->failWith(QStringLiteral("无法创建 SSH 终端管道"));
        return false;
    }

    const pid_t pid = ::fork();
    if (pid == 0) {
        // Child: only async-signal-safe calls from here on.
        ::setsid();
        ::ioctl(slave, TIOCSCTTY, 0);
        ::dup2(slave, STDIN_FILENO);
        ::dup2(slave, STDOUT_FILENO);
        ::dup2(slave, STDERR_FILENO);
        struct sigaction plain {};
        plain.sa_handler = SIG_DFL;
        for (int sig = 1; sig < NSIG; ++sig)
            ::sigaction(sig, &plain, nullptr);
        sigset_t none;
        sigemptyset(&none);
        ::sigprocmask(SIG_SETMASK, &none, nullptr);
        ::execve(path.constData(), argv.data(), envp.data());
        const int failure = errno;
        [[maybe_unused]] const ssize_t written = ::write(report[1], &failure, sizeof failure);
        ::_exit(127);
    }
    const int forkError = errno;
    closeFd(slave);
    closeFd(report[1]);
    if (pid < 0) {
        closeFd(report[0]);
        closeFd(master);
        release();
        d->failWith(QStringLiteral("无法启动 SSH 终端，系统错误 %1").arg(forkError));
        return false;
    }

    // The report pipe closes on a successful exec; otherwise it carries errno.
    int execError = 0;
    ssize_t got;
    do {
        got = ::read(report[0], &execError, sizeof execError);
    } while (got < 0 && errno == EINTR);
    closeFd(report[0]);
    if (got == static_cast<ssize_t>(sizeof execError)) {
        int status = 0;
        while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
        }
        closeFd(master);
        release();
        d->failWith(QStringLiteral("无法启动 SSH 终端，系统错误 %1").arg(execError));
        return false;
    }

    ::fcntl(master, F_SETFL, ::fcntl(master, F_GETFL) | O_NONBLOCK);
    d->master = master;
    d->pid = pid;
    d->reaped = false;
    d->code = 0;
    return true;
}

PtyProcess::Result PtyProcess::read(char* buffer, qint64 size, int timeoutMs)
{
    for (;;) {
        pollfd fds[2] = {{d->master, POLLIN, 0}, {d->wakeRead, POLLIN, 0}};
        const int ready = ::poll(fds, 2, timeoutMs);
        if (ready < 0) {
            if (errno == EINTR)
                continue;
            return {Io::Failed, 0};
        }
        if (ready == 0)
            return {Io::TimedOut, 0};
        if (fds[1].revents != 0)
            return {Io::Woken, 0};
        const ssize_t n = ::read(d->master, buffer, static_cast<size_t>(size));
        if (n > 0)
            return {Io::Done, n};
        if (n == 0 || errno == EIO)
            return {Io::End, 0}; // Linux reports a closed other end as EIO once drained
        if (errno == EAGAIN || errno == EINTR)
            continue;
        return {Io::Failed, 0};
    }
}

PtyProcess::Result PtyProcess::write(const char* data, qint64 size)
{
    for (;;) {
        const ssize_t n = ::write(d->master, data, static_cast<size_t>(size));
        if (n >= 0)
            return {Io::Done, n};
        if (errno == EIO)
            return {Io::End, 0};
        if (errno != EAGAIN && errno != EINTR)
            return {Io::Failed, 0};
        pollfd fds[2] = {{d->master, POLLOUT, 0}, {d->wakeRead, POLLIN, 0}};
        if (::poll(fds, 2, -1) < 0 && errno != EINTR)
            return {Io::Failed, 0};
        if (fds[1].revents != 0)
            return {Io::Woken, 0};
    }
}

void PtyProcess::wake()
{
    if (d->wakeWrite >= 0) {
        const char byte = 1;
        [[maybe_unused]] const ssize_t written = ::write(d->wakeWrite, &byte, 1);
    }
}

void PtyProcess::resize(QSize size)
{
    if (d->master < 0)
        return;
    const winsize ws = windowSize(size);
    ::ioctl(d->master, TIOCSWINSZ, &ws);
}

std::optional<int> PtyProcess::exitCode()
{
    if (d->pid <= 0)
        return std::nullopt;
    if (!d->reaped) {
        int status = 0;
        const pid_t done = ::waitpid(d->pid, &status, WNOHANG);
        if (done == 0)
            return std::nullopt;
        if (done < 0 && errno == EINTR)
            return std::nullopt;
        d->reaped = true;
        d->code = done == d->pid ? codeOf(status) : -1;
    }
    return d->code;
}

void PtyProcess::terminate(int graceMs)
{
    if (d->pid <= 0 || exitCode())
        return;
    // The child leads its own session, so its group holds everything it
    // started on the terminal (the askpass helper included).
    ::kill(-d->pid, SIGTERM);
    ::kill(d->pid, SIGTERM);
    for (int waited = 0; waited < graceMs; waited += 5) {
        if (exitCode())
            return;
        ::usleep(5000);
    }
    ::kill(-d->pid, SIGKILL);
    ::kill(d->pid, SIGKILL);
    int status = 0;
    pid_t done;
    do {
        done = ::waitpid(d->pid, &status, 0);
    } while (done < 0 && errno == EINTR);
    d->reaped = true;
    d->code = done == d->pid ? codeOf(status) : -1;
}

void PtyProcess::release()
{
    closeFd(d->master);
    closeFd(d->wakeRead);
    closeFd(d->wakeWrite);
    if (d->reaped)
        d->pid = 0;
}

} // namespace vn
