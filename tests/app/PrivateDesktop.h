#pragma once

#include "tests/app/ProgramRun.h"

#include <QImage>
#include <QPoint>
#include <QProcess>
#include <QProcessEnvironment>
#include <QRect>
#include <QString>
#include <QStringList>

#include <functional>
#include <memory>

namespace vn::test {

// A process a test started; killed by its own id when the object goes.
class Owned {
public:
    Owned(const QString& program, const QStringList& arguments, const QProcessEnvironment& environment,
          const QString& workingDirectory = {});
    ~Owned();
    Owned(const Owned&) = delete;
    Owned& operator=(const Owned&) = delete;

    QProcess& operator*() { return *process; }
    QProcess* operator->() { return process.get(); }

private:
    std::unique_ptr<QProcess> process;
};

// A private X display with a window manager; everything started here ends
// here. The server keeps its screen in a file, so a test can take pictures.
class Desktop {
public:
    explicit Desktop(const ProgramHome& home);
    ~Desktop();
    Desktop(const Desktop&) = delete;
    Desktop& operator=(const Desktop&) = delete;

    // Runs xdotool with these arguments; its output, or empty on failure.
    QByteArray xdo(const QStringList& arguments, int ms = 20000) const;
    // The window ids whose title matches the pattern.
    QStringList windows(const QString& pattern) const;
    // The same, of the windows that are mapped and shown.
    QStringList shownWindows(const QString& pattern) const;
    QRect geometry(const QString& window) const;
    // The window's geometry once two looks in a row agree: the window manager
    // has placed it and carried out every move asked of it so far. An empty
    // rectangle when it does not rest within `ms`.
    QRect settledGeometry(const QString& window, int ms = 20000) const;

    // Presses the left button at `from` (with the window manager's move key
    // held when `moveKey`), carries the mouse to `to` in small steps, as a hand
    // would, and lets go.
    void drag(QPoint from, QPoint to, bool moveKey = false) const;
    // The same drag in parts, for a test that waits for the program between
    // them: the press, the mouse carried in `steps` moves, the release.
    void press(QPoint at, bool moveKey = false) const;
    void glide(QPoint from, QPoint to, int steps = 24) const;
    void release(bool moveKey = false) const;
    void click(QPoint at) const;
    // Types the text as key strokes into whatever has the keyboard focus,
    // `delayMs` between two keys.
    void type(const QString& text, int delayMs = 40) const;
    // Presses a key combination named as xdotool names them ("Return", "ctrl+a").
    void key(const QString& keys) const;

    // What the screen shows now; a null image when it cannot be read.
    QImage screen() const;

    QString display;
    QProcessEnvironment environment;
    bool ready = false;

private:
    QString frames;
    std::unique_ptr<Owned> server;
    std::unique_ptr<Owned> manager;
};

// The picture of an X screen kept as an XWD file (Xvfb -fbdir); a null image
// when the bytes are not a true-colour XWD picture of 24 or 32 bits a pixel.
QImage readXwd(const QByteArray& bytes);

// Runs the event loop until the condition holds (true) or `ms` have passed.
bool waitFor(const std::function<bool()>& condition, int ms = 20000);

} // namespace vn::test
