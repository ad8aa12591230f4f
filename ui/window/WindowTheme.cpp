#include "ui/window/Window.h"

#include "ui/kit/BackgroundSurface.h"
#include "ui/kit/DetachableTabs.h"
#include "ui/kit/IconButton.h"
#include "ui/kit/StatusLed.h"
#include "ui/kit/WindowChrome.h"
#include "ui/pages/Pane.h"
#include "ui/window/AppearancePage.h"
#include "ui/window/SettingsDialog.h"
#include "ui/window/WindowWidgets.h"
#include "ui/window/WorkspaceFile.h"

#include <QApplication>
#include <QPalette>

namespace vn {

namespace {

void themeButtons(QWidget* container, const Theme& theme)
{
    for (IconButton* button : container->findChildren<IconButton*>()) {
        button->theme = theme;
        button->update();
    }
}

} // namespace

void Window::applyLocalTheme(bool dark)
{
    theme = Theme::make(dark);
    if (ui->connectionLed) {
        ui->connectionLed->theme = theme;
        ui->connectionLed->update();
    }

    setStyleSheet(workspaceStyle());

    ui->surface->baseColor = theme.bg;
    ui->surface->background.set(windowBackground, windowBackgroundImage);
    ui->surface->update();
    if (!root)
        updateWindowChrome(theme, windowBackground, windowBackgroundImage);

    QPalette colours = palette();
    const std::pair<QPalette::ColorRole, QColor> table[] = {
        {QPalette::Window, theme.bg},        {QPalette::Base, theme.panel},
        {QPalette::Button, theme.panel},     {QPalette::Text, theme.text},
        {QPalette::WindowText, theme.text},  {QPalette::ButtonText, theme.text},
        {QPalette::Highlight, theme.accent}, {QPalette::HighlightedText, theme.onaccent},
        {QPalette::PlaceholderText, theme.muted}, {QPalette::Mid, theme.muted},
    };
    for (const auto& [role, colour] : table)
        colours.setColor(QPalette::All, role, colour);
    setPalette(colours);

    themeButtons(this, theme);

    for (Pane* page : std::as_const(pages)) {
        page->applyAppearance();
        page->replay();
    }
    syncConnections();
}

void Window::applyTheme(bool dark)
{
    Window* top = rootWindow();
    const QList<QPointer<Window>> all = top->windows;
    for (const QPointer<Window>& window : all) {
        if (window)
            window->applyLocalTheme(dark);
    }
    // Torn-off tab pages are windows of their own: they take the new sheets and
    // palette from the windows they were torn from, which are re-themed by now.
    for (QWidget* widget : QApplication::topLevelWidgets()) {
        auto* floating = qobject_cast<FloatingPage*>(widget);
        if (!floating)
            continue;
        floating->adoptLook();
        themeButtons(floating, top->theme);
    }
}

QString Window::workspaceStyle() const
{
    QString sheet = theme.stylesheet();
    if (windowBackgroundImage.isNull())
        return sheet;
    const QString indent(8, QLatin1Char(' '));
    QString translucent = QStringLiteral("\n");
    for (const char* line : {
             "QWidget#root QFrame#sidebar, QWidget#root QWidget#workspace,",
             "QWidget#root QWidget#page, QWidget#root QWidget#tabHeader,",
             "QWidget#root QWidget#monitorToolbar, QWidget#root QWidget#sender,",
             "QWidget#root QStackedWidget { background: transparent; }",
             "QWidget#root QFrame#rail, QWidget#root QWidget#pixelBrand { background: %1; }",
         })
        translucent += indent + QString::fromLatin1(line) + QLatin1Char('\n');
    translucent += QString(4, QLatin1Char(' '));
    const QColor rail = theme.rail;
    translucent.replace(QStringLiteral("%1"),
                        QStringLiteral("rgba(%1,%2,%3,200)").arg(rail.red()).arg(rail.green()).arg(rail.blue()));
    return sheet + translucent;
}

void Window::setDataFont(const QFont& chosen)
{
    // Every way into the data font (settings dialog, a page's zoom) keeps the
    // same rules: Chinese fall-back family, 8..32 points, unsmoothed pixel fonts.
    const QFont font = shapeDataFont(chosen, chosen.family(), chosen.pointSize());
    Window* top = rootWindow();
    const QList<QPointer<Window>> all = top->windows;
    for (const QPointer<Window>& window : all) {
        if (!window)
            continue;
        window->dataFont = font;
        for (Pane* page : std::as_const(window->pages))
            page->applyAppearance();
        // A page's Ctrl + wheel changes the size the settings page shows too.
        if (auto* dialog = qobject_cast<SettingsDialog*>(window->settingsDialog()))
            dialog->appearancePage()->showCurrent();
    }
    top->saveSettings();
}

} // namespace vn
