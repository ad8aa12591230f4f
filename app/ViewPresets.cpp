#include "app/ViewPresets.h"

#include "ui/kit/ConnectionBar.h"
#include "ui/kit/IconButton.h"
#include "ui/pages/Pane.h"
#include "ui/pages/SessionToolbar.h"
#include "ui/views/FilterBox.h"
#include "ui/views/TerminalView.h"
#include "ui/window/Window.h"

#include <QAbstractButton>
#include <QComboBox>
#include <QDialog>
#include <QSignalBlocker>
#include <QTabWidget>

#include <utility>

namespace vn {

namespace {

constexpr int SshKindIndex = 4;

QComboBox* protocolSelector(Window& root)
{
    return root.findChild<QComboBox*>(QStringLiteral("protocolSelector"));
}

void showAgentsPage(Window& root)
{
    root.openSettings();
    QDialog* dialog = root.settingsDialog();
    if (!dialog)
        return;
    if (auto* pages = dialog->findChild<QTabWidget*>(QStringLiteral("settingsPages")); pages && pages->count() > 1)
        pages->setCurrentIndex(1);
}

void searchTemperature(Window& root)
{
    if (!root.sessionPane)
        return;
    if (FilterBox* box = root.sessionPane->filterBox())
        box->setText(QStringLiteral("temperature"));
}

void showTerminal(Window& root)
{
    Pane* page = root.sessionPane;
    if (!page)
        return;
    page->setTerminal(true);
    // The preview shows the block cursor with its shape button released; the
    // button must not pass its own state on to the view while it is set.
    if (SessionToolbar* toolbar = page->toolbar(); toolbar && toolbar->cursorShape) {
        const QSignalBlocker quiet(toolbar->cursorShape);
        toolbar->cursorShape->setChecked(false);
    }
    if (TerminalView* terminal = page->terminalView()) {
        terminal->blockCursor = true;
        terminal->update();
    }
}

void selectSsh(Window& root)
{
    if (QComboBox* selector = protocolSelector(root); selector && selector->count() > SshKindIndex)
        selector->setCurrentIndex(SshKindIndex);
}

void openProtocolList(Window& root)
{
    if (QComboBox* selector = protocolSelector(root))
        selector->showPopup();
}

void detachCurrent(Window& root, QPointer<Window>& target)
{
    ConnectionBar* bar = root.tabs();
    if (!bar || bar->currentIndex() < 0)
        return;
    if (Window* torn = root.detachConnection(bar->currentIndex(), QPoint(160, 120), false))
        target = torn;
}

void showInstrument(Window& root, const QString& view, const QString& name, QPointer<Window>& target)
{
    const QString kind = name == QStringLiteral("floating-wave") ? QStringLiteral("waveform") : name;
    Pane* page = nullptr;
    for (Pane* candidate : std::as_const(root.pages)) {
        if (candidate && candidate->isControl() && candidate->kind == kind) {
            page = candidate;
            break;
        }
    }
    if (!page)
        return;
    if (view == QStringLiteral("values")) {
        auto* toggle = page->findChild<QAbstractButton*>(QStringLiteral("waveValuesToggle"));
        if (toggle && !toggle->isChecked())
            toggle->click();
    }
    ConnectionBar* bar = root.tabs();
    if (!bar)
        return;
    for (int index = 0; index < bar->count(); ++index) {
        if (tabPane(bar, index) != page)
            continue;
        bar->setCurrentIndex(index);
        if (name == QStringLiteral("floating-wave")) {
            if (Window* torn = root.detachConnection(index, QPoint(250, 180), false))
                target = torn;
        }
        return;
    }
}

} // namespace

void applyViewPreset(Window& root, const QString& view, QPointer<Window>& target)
{
    QString name = view;
    if (name == QStringLiteral("structured"))
        name = QStringLiteral("json");
    else if (name == QStringLiteral("values"))
        name = QStringLiteral("waveform");

    if (name == QStringLiteral("agents"))
        showAgentsPage(root);
    else if (name == QStringLiteral("settings"))
        root.openSettings();
    else if (name == QStringLiteral("dark"))
        root.applyTheme(true);
    else if (name == QStringLiteral("search"))
        searchTemperature(root);
    else if (name == QStringLiteral("terminal"))
        showTerminal(root);
    else if (name == QStringLiteral("ssh"))
        selectSsh(root);
    else if (name == QStringLiteral("narrow"))
        root.resize(480, 640);
    else if (name == QStringLiteral("protocol"))
        openProtocolList(root);
    else if (name == QStringLiteral("detached"))
        detachCurrent(root, target);
    else if (!name.isEmpty())
        showInstrument(root, view, name, target);
}

} // namespace vn
