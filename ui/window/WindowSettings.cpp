#include "ui/window/Window.h"

#include "ui/update/UpdateDialog.h"
#include "ui/window/SettingsDialog.h"
#include "ui/window/WindowWidgets.h"

namespace vn {

void Window::openSettings()
{
    rootWindow()->checkAgentEndpoints();
    if (!ui->settingsDialog)
        ui->settingsDialog = new SettingsDialog(this);
    QDialog* dialog = ui->settingsDialog;
    dialog->show();
    dialog->raise();
    dialog->activateWindow();
}

void Window::openAiAudit()
{
    openSettings();
    if (auto* dialog = qobject_cast<SettingsDialog*>(ui->settingsDialog.data()))
        dialog->showCallLog();
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
