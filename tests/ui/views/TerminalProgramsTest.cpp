// Output of real programs, captured through a pseudo-terminal with
// TERM=xterm-256color, fed to the grid and compared with the screen it must give.
#include "TerminalTestSupport.h"

#include "ui/views/AnsiState.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <sys/wait.h>
#include <unistd.h>

using vn::ansiColor;
using vn::test::Term;

namespace {

constexpr int kCols = 40;
constexpr int kRows = 10;

// Runs a shell command on a pseudo-terminal of kCols x kRows and returns all
// it wrote. `answer` is typed into the terminal once `when` has been seen.
QByteArray runInPty(const QByteArray& command, const QByteArray& when = {}, const QByteArray& answer = {},
                    const QByteArray& directory = {})
{
    struct winsize size {};
    size.ws_col = kCols;
    size.ws_row = kRows;
    int master = -1;
    const pid_t pid = forkpty(&master, nullptr, nullptr, &size);
    if (pid < 0)
        return QByteArray("forkpty failed");
    if (pid == 0) {
        if (!directory.isEmpty() && chdir(directory.constData()) != 0)
            _exit(126);
        setenv("TERM", "xterm-256color", 1);
        unsetenv("LS_COLORS");
        setenv("LC_ALL", "C.UTF-8", 1);
        setenv("LESS", "", 1);
        execl("/bin/sh", "sh", "-c", command.constData(), static_cast<char*>(nullptr));
        _exit(127);
    }
    QByteArray out;
    bool answered = answer.isEmpty();
    QElapsedTimer clock;
    clock.start();
    while (clock.elapsed() < 20000) {
        struct pollfd p {master, POLLIN, 0};
        const int ready = poll(&p, 1, 100);
        if (ready < 0 && errno == EINTR)
            continue;
        if (ready > 0) {
            char buffer[4096];
            const ssize_t n = read(master, buffer, sizeof buffer);
            if (n <= 0)
                break;   // EIO: the child side closed
            out.append(buffer, n);
        }
        if (!answered && out.contains(when)) {
            answered = true;
            if (write(master, answer.constData(), static_cast<size_t>(answer.size())) < 0)
                break;
        }
    }
    close(master);
    int status = 0;
    if (waitpid(pid, &status, WNOHANG) == 0) {
        kill(pid, SIGKILL);
        waitpid(pid, &status, 0);
    }
    return out;
}

} // namespace

class TerminalProgramsTest : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void tputPositionsAndAttributes()
    {
        const QByteArray out = runInPty(
            "printf 'junk line'; tput clear; tput cup 2 5; printf X; tput bold; printf B; tput sgr0;"
            " tput setaf 1; printf R; tput setab 4; printf G; tput sgr0; tput cup 4 0; tput el;"
            " printf 'ab'; tput cub 1; tput ech 1; tput cuf 3; printf Z; tput civis; tput cnorm");
        Term t(kCols, kRows);
        t.feed(out);
        QCOMPARE(t.text(), QStringLiteral("\n\n     XBRG\n\na   Z"));
        QCOMPARE(t.screen.cursor(), QPoint(5, 4));
        QVERIFY(!t.cell(5, 2).bold && !t.cell(5, 2).foreground().isValid());
        QVERIFY(t.cell(6, 2).bold);
        QCOMPARE(t.cell(7, 2).foreground(), ansiColor(1));
        QVERIFY(!t.cell(7, 2).bold);
        QCOMPARE(t.cell(8, 2).background(), ansiColor(4));
        QVERIFY(t.screen.cursorVisible());
        QVERIFY(t.screen.history().empty());
    }

    void lsColours()
    {
        QTemporaryDir dir;
        QVERIFY(dir.isValid());
        QVERIFY(QDir(dir.path()).mkdir(QStringLiteral("sub")));
        QFile script(dir.filePath(QStringLiteral("run.sh")));
        QVERIFY(script.open(QIODevice::WriteOnly));
        script.write("#!/bin/sh\n");
        script.close();
        script.setPermissions(QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        QFile plain(dir.filePath(QStringLiteral("plain.txt")));
        QVERIFY(plain.open(QIODevice::WriteOnly));
        plain.close();

        const QByteArray out = runInPty("ls --color=always -1", {}, {}, QFile::encodeName(dir.path()));
        QVERIFY2(out.contains("\x1b["), out.constData());
        Term t(kCols, kRows);
        t.feed(out);
        QCOMPARE(t.text(), QStringLiteral("plain.txt\nrun.sh\nsub"));
        QVERIFY(!t.cell(0, 0).foreground().isValid());
        QCOMPARE(t.cell(0, 1).foreground(), ansiColor(2));   // executable: bold green
        QVERIFY(t.cell(0, 1).bold);
        QCOMPARE(t.cell(0, 2).foreground(), ansiColor(4));   // directory: bold blue
        QVERIFY(t.cell(2, 2).bold);
        QCOMPARE(t.screen.cursor(), QPoint(0, 3));
        QVERIFY(!t.screen.attributes().bold);
    }

    void printfSgrRuns()
    {
        const QByteArray out = runInPty(
            "printf '\\033[38;5;196mA\\033[48;2;1;2;3mB\\033[0mC\\033[92;1mD\\033[22;39mE\\n'"
            "; printf '\\344\\270\\255\\346\\226\\207|\\n'");
        Term t(kCols, kRows);
        t.feed(out);
        QCOMPARE(t.text(), QStringLiteral("ABCDE\n\u4e2d\u6587|"));
        QCOMPARE(t.cell(0, 0).foreground(), QColor(255, 0, 0));
        QCOMPARE(t.cell(1, 0).foreground(), QColor(255, 0, 0));
        QCOMPARE(t.cell(1, 0).background(), QColor(1, 2, 3));
        QVERIFY(!t.cell(2, 0).foreground().isValid() && !t.cell(2, 0).background().isValid());
        QCOMPARE(t.cell(3, 0).foreground(), ansiColor(10));
        QVERIFY(t.cell(3, 0).bold);
        QVERIFY(!t.cell(4, 0).bold && !t.cell(4, 0).foreground().isValid());
        QVERIFY(t.cell(1, 1).continuation);
        QCOMPARE(t.cell(4, 1).character, QChar(u'|'));
    }

    void scrollingIntoHistory()
    {
        const QByteArray out = runInPty("seq 1 25");
        Term t(kCols, kRows);
        t.feed(out);
        QCOMPARE(t.screen.history().size(), size_t(16));
        QCOMPARE(Term::lineText(t.screen.history().front()), QStringLiteral("1"));
        QCOMPARE(t.row(0), QStringLiteral("17"));
        QCOMPARE(t.row(8), QStringLiteral("25"));
    }

    void fullScreenProgram()
    {
        QTemporaryDir dir;
        QFile file(dir.filePath(QStringLiteral("page.txt")));
        QVERIFY(file.open(QIODevice::WriteOnly));
        for (int i = 1; i <= 30; ++i)
            file.write("page line " + QByteArray::number(i) + "\n");
        file.close();
        // less enters the alternate screen, draws a page and leaves on "q".
        const QByteArray out = runInPty("printf 'before\\n'; less " + QFile::encodeName(file.fileName())
                                            + "; printf 'after\\n'",
                                        "page line 9", "q");
        const qsizetype enter = out.indexOf("\x1b[?1049h");
        const qsizetype leave = out.indexOf("\x1b[?1049l");
        QVERIFY2(enter >= 0 && leave > enter, out.toHex(' ').constData());
        Term t(kCols, kRows);
        t.feed(out.left(leave));
        QVERIFY(t.screen.alternateScreen());
        QCOMPARE(t.row(0), QStringLiteral("page line 1"));
        QCOMPARE(t.row(8), QStringLiteral("page line 9"));
        QVERIFY(t.screen.history().empty());
        t.feed(out.mid(leave));
        QVERIFY(!t.screen.alternateScreen());
        QCOMPARE(t.text(), QStringLiteral("before\nafter"));
        QVERIFY(t.screen.history().empty());
    }
};

QTEST_APPLESS_MAIN(TerminalProgramsTest)
#include "TerminalProgramsTest.moc"
