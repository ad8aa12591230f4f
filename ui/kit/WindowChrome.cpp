#include "ui/kit/WindowChrome.h"

#include "ui/kit/BackgroundSurface.h"

#include <QApplication>
#include <QEvent>
#include <QFileDialog>
#include <QPainter>
#include <QPointer>
#include <QStyleHints>
#include <QSvgRenderer>
#include <QWindow>

#include <cmath>

namespace vn {

namespace {

const char controllerName[] = "varnelleWindowChrome";
const char captionName[] = "windowCaptionBackground";

bool qualifies(QObject* watched)
{
    if (!watched->isWidgetType()) {
        return false;
    }
    auto* widget = static_cast<QWidget*>(watched);
    if (!widget->isWindow() || qobject_cast<QFileDialog*>(widget)) {
        return false;
    }
    const Qt::WindowType type = widget->windowType();
    return type == Qt::Window || type == Qt::Dialog || type == Qt::Tool;
}

// The height of the strip the program paints under the system title bar, in
// device-independent pixels. The window systems here draw their title bar
// outside the client area, so the only caption area a window can be given is
// the top safe-area margin that newer Qt versions report (a client-side title
// bar area); without a native window there is nothing to measure yet.
int captionHeight(QWidget* window)
{
    const QWindow* handle = window->windowHandle();
    if (!handle)
        return 0;
    int height = 0;
#if QT_VERSION >= QT_VERSION_CHECK(6, 9, 0)
    height = std::max(height, handle->safeAreaMargins().top());
#endif
    return height;
}

class WindowChrome : public QObject {
public:
    explicit WindowChrome(QObject* parent)
        : QObject(parent)
        , icon(programIcon())
    {
        setObjectName(QLatin1String(controllerName));
    }

    bool eventFilter(QObject* watched, QEvent* event) override
    {
        const QEvent::Type type = event->type();
        if (type != QEvent::Polish && type != QEvent::Resize && type != QEvent::Show
            && type != QEvent::WindowStateChange && type != QEvent::Type(222) && type != QEvent::Type(227)) {
            return false;
        }
        if (!qualifies(watched)) {
            return false;
        }
        auto* window = static_cast<QWidget*>(watched);
        const bool fitted = window->property("varnelleChrome").toBool();
        if (type == QEvent::Polish && !fitted) {
            fit(window);
        } else if (fitted && type != QEvent::Polish) {
            if (auto* strip = window->findChild<BackgroundSurface*>(QLatin1String(captionName),
                                                                   Qt::FindDirectChildrenOnly)) {
                refresh(strip);
            }
        }
        return false;
    }

    void fit(QWidget* window)
    {
        window->setProperty("varnelleChrome", true);
        window->setProperty("varnelleFrameMargins", QVariant::fromValue(window->contentsMargins()));
        // The title-bar hints that extend the client area under the caption have
        // no counterpart here; the window keeps its system frame and flags.
        window->setAttribute(Qt::WA_ContentsMarginsRespectsSafeArea, true);
        auto* strip = new BackgroundSurface(window);
        strip->setObjectName(QLatin1String(captionName));
        strip->caption = true;
        strip->setAttribute(Qt::WA_TransparentForMouseEvents);
        strip->setFocusPolicy(Qt::NoFocus);
        surfaces.append(strip);
        refresh(strip);
    }

    void refresh(BackgroundSurface* strip)
    {
        QWidget* window = strip->parentWidget();
        window->setWindowIcon(icon);
        const int height = captionHeight(window);
        QMargins margins = window->property("varnelleFrameMargins").value<QMargins>();
        margins.setTop(std::max(margins.top(), height));
        if (window->contentsMargins() != margins) {
            window->setContentsMargins(margins);
        }
        const bool fullScreen = window->isFullScreen();
        strip->setGeometry(0, 0, window->width(), fullScreen ? 0 : height);
        strip->baseColor = theme.bg;
        strip->background.set(background, image);
        strip->setVisible(height >= 1 && !fullScreen);
        strip->raise();
        strip->update();
    }

    QIcon icon;
    Theme theme;
    BackgroundSpec background;
    QImage image;
    QList<QPointer<BackgroundSurface>> surfaces;
};

WindowChrome* controller()
{
    if (auto* existing = qApp->findChild<WindowChrome*>(QLatin1String(controllerName), Qt::FindDirectChildrenOnly)) {
        return existing;
    }
    auto* created = new WindowChrome(qApp);
    qApp->installEventFilter(created);
    return created;
}

} // namespace

QIcon programIcon()
{
    QIcon result;
    QSvgRenderer bolt(QStringLiteral(":/brand/lightning.svg"));
    for (const int size : {16, 20, 24, 32, 48, 64}) {
        QPixmap pixmap(size, size);
        pixmap.fill(Qt::transparent);
        {
            QPainter painter(&pixmap);
            painter.setRenderHint(QPainter::Antialiasing);
            painter.setPen(Qt::NoPen);
            painter.setBrush(QColor(0x29, 0x3e, 0x35));
            painter.drawRoundedRect(QRectF(0, 0, size, size), size / 5.0, size / 5.0);
            bolt.render(&painter, QRectF(1, 1, size - 2, size - 2));
        }
        result.addPixmap(pixmap, QIcon::Normal, QIcon::Off);
    }
    return result;
}

QObject* installWindowChrome()
{
    return controller();
}

void updateWindowChrome(const Theme& theme, const BackgroundSpec& background, const QImage& image)
{
    WindowChrome* chrome = controller();
    chrome->theme = theme;
    chrome->background = background;
    chrome->image = image;
    // The platform's colour scheme (title bars, native dialogs) follows the
    // theme where Qt can set it; older Qt leaves the desktop's own scheme.
    chrome->setProperty("colorScheme", theme.dark ? QStringLiteral("dark") : QStringLiteral("light"));
#if QT_VERSION >= QT_VERSION_CHECK(6, 8, 0)
    QGuiApplication::styleHints()->setColorScheme(theme.dark ? Qt::ColorScheme::Dark : Qt::ColorScheme::Light);
#endif
    chrome->surfaces.removeIf([](const QPointer<BackgroundSurface>& strip) { return strip.isNull(); });
    for (const QPointer<BackgroundSurface>& strip : std::as_const(chrome->surfaces)) {
        chrome->refresh(strip);
    }
}

} // namespace vn
