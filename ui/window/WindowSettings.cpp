#include "ui/window/Window.h"

#include "ui/update/UpdateDialog.h"
#include "ui/window/WindowWidgets.h"

#include <QDialog>
#include <QTabWidget>
#include <QVBoxLayout>

namespace vn {

void Window::openSettings()
{
    // The full settings dialog (connections, AI / MCP, agents, roll-back, about)
    // replaces this frame; it already carries the appearance page.
    if (!ui->settingsDialog) {
        auto* dialog = new QDialog(this);
        dialog->setObjectName(QStringLiteral("settingsDialog"));
        dialog->setWindowTitle(QStringLiteral("设置"));
        dialog->resize(760, 620);
        auto* layout = new QVBoxLayout(dialog);
        auto* pagesWidget = new QTabWidget(dialog);
        pagesWidget->setObjectName(QStringLiteral("settingsPages"));
        pagesWidget->addTab(backgroundSettingsPanel(), QStringLiteral("外观"));
        layout->addWidget(pagesWidget);
        ui->settingsDialog = dialog;
    }
    ui->settingsDialog->showNormal();
    ui->settingsDialog->raise();
    ui->settingsDialog->activateWindow();
}

void Window::openUpdateDialog()
{
    if (!ui->updateService)
        return;
    if (!ui->updateDialog) {
        ui->updateDialog = new UpdateDialog(ui->updateService, this);
        connect(ui->updateDialog, &UpdateDialog::installRequested, this, &Window::installUpdate);
    }
    ui->updateDialog->refresh();
    ui->updateDialog->showNormal();
    ui->updateDialog->raise();
    ui->updateDialog->activateWindow();
}

} // namespace vn
