// Output throughput of SshProcess: a program floods its pseudo terminal
// (`yes | head -c 200M`, the terminal in raw mode as the SSH client sets it)
// and the owner's event loop takes every chunk. Prints MB/s and the peak
// resident memory, which the reader's back-pressure keeps bounded.

#include "core/ssh/SshProcess.h"

#include <QCoreApplication>
#include <QElapsedTimer>

#include <cstdio>
#include <sys/resource.h>

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    const qint64 total = 200LL * 1024 * 1024;
    for (const bool raw : {true, false}) {
        vn::SshProcess process;
        qint64 received = 0;
        qint64 chunks = 0;
        int code = -1;
        QObject::connect(&process, &vn::SshProcess::output, &app, [&](const QByteArray& bytes) {
            received += bytes.size();
            ++chunks;
        });
        QObject::connect(&process, &vn::SshProcess::finished, &app, [&](int exitCode) {
            code = exitCode;
            app.quit();
        });
        const QString script = QStringLiteral("%1yes | head -c %2").arg(raw ? QStringLiteral("stty raw -echo; ") : QString()).arg(total);
        QElapsedTimer timer;
        timer.start();
        if (!process.start(QStringLiteral("sh"), {QStringLiteral("-c"), script}, QSize(120, 32),
                           QProcessEnvironment::systemEnvironment())) {
            std::fprintf(stderr, "start failed: %s\n", qPrintable(process.errorString()));
            return 1;
        }
        app.exec();
        const double seconds = double(timer.nsecsElapsed()) / 1e9;
        std::printf("pty output (%s): %lld bytes in %lld chunks, %.2f s, %.1f MB/s (exit %d)\n",
                    raw ? "raw mode" : "cooked, LF->CRLF", static_cast<long long>(received),
                    static_cast<long long>(chunks), seconds, double(received) / 1e6 / seconds, code);
    }
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    std::printf("peak resident memory: %.1f MiB\n", double(usage.ru_maxrss) / 1024.0);
    return 0;
}
