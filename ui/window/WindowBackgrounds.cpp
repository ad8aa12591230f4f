// The window's backgrounds: the settings page that changes them, importing a
// picture, showing both backgrounds in every open window, and starting a verified
// update installer.
#include "ui/window/Window.h"

#include "ui/kit/BackgroundSettingsPanel.h"
#include "ui/kit/BackgroundSurface.h"
#include "ui/kit/WindowChrome.h"
#include "ui/pages/Pane.h"
#include "ui/update/InstallerLaunch.h"
#include "ui/views/LogView.h"
#include "ui/window/AppearancePage.h"
#include "ui/window/SettingsDialog.h"

#include <QApplication>
#include <QDialog>
#include <QDir>
#include <QFileInfo>
#include <QStatusBar>

namespace vn {

namespace {

BackgroundSpec& specOf(Window* window, bool receive)
{
    return receive ? window->receiveBackground : window->windowBackground;
}

QImage& imageOf(Window* window, bool receive)
{
    return receive ? window->receiveBackgroundImage : window->windowBackgroundImage;
}

QString settingsFolder(Window* window)
{
    return QFileInfo(window->rootWindow()->settingsPath).absolutePath();
}

// Brings one group of the window's settings dialog up to date, on the
// appearance page wherever it is (docked, or torn off into a window of its own).
void syncControls(Window* window, bool receive)
{
    auto* dialog = qobject_cast<SettingsDialog*>(window->settingsDialog());
    if (dialog == nullptr)
        return;
    syncBackgroundControls(dialog->appearancePage(), receive, specOf(window, receive),
                           !imageOf(window, receive).isNull(), settingsFolder(window));
}

// Imports a picture as a background of the root window, keeping the group's fit,
// opacity and position.
bool importBackground(Window* truth, bool receive, const QString& sourcePath, QString* error)
{
    const QString relative = BackgroundImage::importFile(sourcePath, truth->settingsPath, error);
    if (relative.isEmpty())
        return false;
    const QImage picture = BackgroundImage::read(QDir(settingsFolder(truth)).filePath(relative), error);
    if (picture.isNull())
        return false;
    BackgroundSpec& look = specOf(truth, receive);
    look.file = relative;
    look.name = QFileInfo(sourcePath).fileName();
    imageOf(truth, receive) = picture;
    truth->applyBackgrounds();
    truth->saveSettings();
    return true;
}

} // namespace

QWidget* Window::backgroundSettingsPanel()
{
    const QPointer<Window> self(this);
    BackgroundActions actions;
    actions.current = [self](bool receive) {
        return self ? specOf(self->rootWindow(), receive) : BackgroundSpec();
    };
    actions.change = [self](bool receive, const BackgroundSpec& look, bool dropPicture) {
        if (!self)
            return;
        Window* truth = self->rootWindow();
        specOf(truth, receive) = look;
        if (dropPicture)
            imageOf(truth, receive) = QImage();
        truth->applyBackgrounds();
        truth->saveSettings();
    };
    actions.import = [self](bool receive, const QString& path, QString* error) {
        return self && importBackground(self->rootWindow(), receive, path, error);
    };
    actions.dialogParent = [self]() -> QWidget* {
        // The window the page is shown in, which is the dialog unless torn off.
        auto* dialog = self ? qobject_cast<SettingsDialog*>(self->settingsDialog()) : nullptr;
        return dialog ? static_cast<QWidget*>(dialog->appearancePage())->window() : nullptr;
    };
    return vn::backgroundSettingsPanel(actions);
}

void Window::applyBackgrounds()
{
    // The root window's backgrounds are the truth; every window takes copies.
    Window* truth = rootWindow();
    updateWindowChrome(truth->theme, truth->windowBackground, truth->windowBackgroundImage);
    QList<QPointer<Window>> all = truth->windows;
    if (all.isEmpty())
        all.append(truth);
    for (const QPointer<Window>& each : all) {
        if (!each)
            continue;
        Window* window = each.data();
        window->windowBackground = truth->windowBackground;
        window->receiveBackground = truth->receiveBackground;
        window->windowBackgroundImage = truth->windowBackgroundImage;
        window->receiveBackgroundImage = truth->receiveBackgroundImage;
        const QString style = window->workspaceStyle();
        if (window->styleSheet() != style)
            window->setStyleSheet(style);
        if (auto* surface = window->findChild<BackgroundSurface*>(QStringLiteral("root"))) {
            surface->baseColor = window->theme.bg;
            surface->background.set(truth->windowBackground, truth->windowBackgroundImage);
            surface->update();
        }
        for (Pane* page : window->pages) {
            page->applyAppearance();
            if (LogView* log = page->logView())
                log->viewport()->update();
        }
        syncControls(window, false);
        syncControls(window, true);
    }
}

void Window::installUpdate(const QString& path)
{
    // The program closes only once the installer runs, so it can replace us.
    if (startInstaller(path)) {
        QApplication::closeAllWindows();
        return;
    }
    statusBar()->showMessage(QStringLiteral("无法启动更新安装程序"), 10000);
}

} // namespace vn
