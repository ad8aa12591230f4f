#include "app/PreviewOptions.h"

#include "app/CommandLine.h"
#include "app/ViewPresets.h"
#include "core/Channel.h"
#include "core/Config.h"
#include "core/Engine.h"
#include "core/Version.h"
#include "platform/WholeFile.h"
#include "ui/kit/ConnectionBar.h"
#include "ui/pages/Pane.h"
#include "ui/window/Window.h"

#include <QApplication>
#include <QBuffer>
#include <QCoreApplication>
#include <QDialog>
#include <QFileInfo>
#include <QImage>
#include <QJsonDocument>
#include <QJsonObject>
#include <QPainter>
#include <QPixmap>
#include <QStackedWidget>
#include <QStringList>
#include <QTabBar>
#include <QTimer>

#include <exception>
#include <utility>

namespace vn {

namespace {

constexpr int PreviewDelayMs = 50;
constexpr int ScreenshotDelayMs = 1600;

QByteArray sampleLine(const char* tag, const char* text)
{
    return QByteArray("\x1b") + tag + "\x1b[0m " + QByteArray(text) + "\r\n";
}

} // namespace

void openDemo(Window& root)
{
    Config config;
    config.kind = QStringLiteral("demo");
    config.name = QStringLiteral("示例数据");
    Channel* channel = nullptr;
    try {
        channel = root.engine->open(config);
    } catch (const std::exception&) {
        return; // a demo that cannot open leaves an ordinary empty window
    }
    if (!channel)
        return;
    if (QTabBar* bar = root.tabs(); bar && root.stack()) {
        for (Pane* page : std::as_const(root.pages)) {
            if (page && page->channel == channel)
                bar->setCurrentIndex(root.stack()->indexOf(page));
        }
    }
    for (const char* kind : {"waveform", "json", "xml"})
        root.newInstrument(QString::fromLatin1(kind), channel, false, QString());
    channel->receive(sampleLine("[32m[INFO]", "设备已就绪 · 示例数据"), QString());
    channel->receive(sampleLine("[36m[RX]", "temperature=24.8,voltage=3.3,current=0.12"), QString());
}

void writeReadyFile(const QString& path, qint64 elapsedMs)
{
    const QJsonObject ready{
        {QStringLiteral("elapsed_ms"), elapsedMs},
        {QStringLiteral("pid"), QCoreApplication::applicationPid()},
        {QStringLiteral("version"), QString::fromLatin1(Version)},
    };
    // Whole or not at all: whoever waits for the file never reads half of it.
    // A file that cannot be written is skipped silently.
    saveWhole(path, QJsonDocument(ready).toJson(QJsonDocument::Indented));
}

void saveScreenshot(Window& root, Window* target, const QString& path)
{
    QWidget* shown = target;
    if (QDialog* dialog = root.settingsDialog(); dialog && dialog->isVisible())
        shown = dialog;
    if (!shown)
        return;
    QImage image = shown->grab().toImage();
    if (QWidget* popup = QApplication::activePopupWidget()) {
        QPainter painter(&image);
        painter.drawPixmap(shown->mapFromGlobal(popup->mapToGlobal(QPoint(0, 0))), popup->grab());
    }
    // The suffix names the format; a failed save is ignored, but never leaves
    // a cut-off picture in place of an earlier one.
    QByteArray encoded;
    QBuffer buffer(&encoded);
    const QByteArray format = QFileInfo(path).suffix().toLatin1();
    if (buffer.open(QIODevice::WriteOnly) && image.save(&buffer, format.isEmpty() ? nullptr : format.constData()))
        saveWhole(path, encoded);
}

std::optional<QSize> previewSize(const QString& text)
{
    const WindowSizeRequest request = readWindowSize(text);
    if (!request.error.isEmpty())
        return std::nullopt;
    return request.size;
}

std::optional<int> quitDelay(const QString& text)
{
    bool ok = false;
    const int delay = text.toInt(&ok, 10);
    if (!ok)
        return 0;
    if (delay < 0)
        return std::nullopt;
    return delay;
}

void armPreviewSteps(Window& root, const PreviewRequest& request, const QElapsedTimer& clock,
                     QPointer<Window>& target)
{
    // The steps hold the root window through its own lifetime: they are its timers.
    Window* window = &root;
    QTimer::singleShot(PreviewDelayMs, window, [window, request, &clock, &target] {
        if (!request.readyFile.isEmpty())
            writeReadyFile(request.readyFile, clock.elapsed());
        // Before the preset, so that "narrow" and the presets that open more
        // windows still have the last word.
        if (const std::optional<QSize> size = previewSize(request.windowSize))
            window->resize(*size);
        applyViewPreset(*window, request.view, target);
    });
    if (!request.screenshot.isEmpty()) {
        QTimer::singleShot(ScreenshotDelayMs, window, [window, path = request.screenshot, &target] {
            saveScreenshot(*window, target, path);
        });
    }
    if (request.quitAfter) {
        if (const std::optional<int> delay = quitDelay(request.quitAfterMs))
            QTimer::singleShot(*delay, window, [window] { window->close(); });
    }
}

} // namespace vn
