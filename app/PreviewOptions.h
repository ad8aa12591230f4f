#pragma once

#include <QElapsedTimer>
#include <QPointer>
#include <QSize>
#include <QString>

#include <optional>

namespace vn {

class Window;

// The options that put a freshly started window into a known state for
// demonstrations, previews and timing measurements.
struct PreviewRequest {
    bool demo = false;
    QString view;
    QString screenshot;
    QString readyFile;
    bool quitAfter = false;
    QString quitAfterMs;
    QString windowSize; // "WIDTHxHEIGHT", empty when not asked for
};

// Opens the generated example connection with three instrument pages and two
// sample lines.
void openDemo(Window& root);

// Arms the timed steps on the root window: after 50 ms the ready file, the
// window size and the view preset, after 1600 ms the screenshot, and the timed close. They die with
// the root window. `target` is the window the screenshot shows; `clock`
// started with the process.
void armPreviewSteps(Window& root, const PreviewRequest& request, const QElapsedTimer& clock,
                     QPointer<Window>& target);

// The ready file: {"elapsed_ms", "pid", "version"}, indented, keys sorted. A
// file that cannot be opened is skipped.
void writeReadyFile(const QString& path, qint64 elapsedMs);

// The settings dialog when it is shown, else the target, with any open pop-up
// painted where it is; saved in the format the path's suffix names. Failures
// are silent.
void saveScreenshot(Window& root, Window* target, const QString& path);

// The size of --window-size (see readWindowSize); nothing for a text it
// refuses. The start-up has already ended the program for such a text.
std::optional<QSize> previewSize(const QString& text);

// The delay of --quit-after: a decimal number of milliseconds, 0 when it is
// not one; nothing for a negative value, which leaves the window open.
std::optional<int> quitDelay(const QString& text);

} // namespace vn
