#include "ui/kit/WindowChrome.h"

#include "ui/kit/BackgroundSurface.h"

#include <QApplication>
#include <QEvent>
#include <QFileDialog>
#include <QPainter>
#include <QPointer>
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

// The height of the strip the program paints under the system title bar. Here
// the window system keeps drawing its own title bar above the client area, so
// the client area starts below it and there is no strip to paint.
int captionHeight(QWidget*)
{
    return 0;
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
    // Qt 6.4 cannot set the platform's colour scheme; the system title bar
    // keeps the desktop's own.
    chrome->surfaces.removeIf([](const QPointer<BackgroundSurface>& strip) { return strip.isNull(); });
    for (const QPointer<BackgroundSurface>& strip : std::as_const(chrome->surfaces)) {
        chrome->refresh(strip);
    }
}

} // namespace vn
