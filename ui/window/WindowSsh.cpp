#include "ui/window/Window.h"

#include "core/ssh/SshProfiles.h"
#include "ui/kit/Combo.h"
#include "ui/ssh/SshDialogs.h"
#include "ui/window/ConnectionForm.h"
#include "ui/window/WindowWidgets.h"

#include <QLineEdit>
#include <QPushButton>

namespace vn {

void Window::refreshSshProfiles()
{
    Combo* box = ui->form->sshHost;
    const QString remembered = box->currentText();
    bool wasItem = false;
    for (int index = 0; index < box->count(); ++index)
        wasItem = wasItem || box->itemText(index) == remembered;

    const QStringList aliases = SshProfiles::aliases(QString());
    const bool blocked = box->blockSignals(true);
    box->clear();
    box->addItems(aliases);
    box->setCurrentIndex(-1);
    // Only the box's own signals are held back: its line edit still reports
    // the new text, which keeps the tool tip and the cache button in step.
    const QString shown = wasItem && !aliases.contains(remembered) ? QString() : remembered;
    box->setEditText(shown);
    box->lineEdit()->setCursorPosition(0);
    box->setToolTip(shown.isEmpty() ? QStringLiteral("选择或输入 SSH 主机") : shown);
    sshFingerprint = SshProfiles::fingerprint(QString());
    box->blockSignals(blocked);
    sshHostEdited(shown);
}

void Window::sshHostEdited(const QString& text)
{
    ConnectionForm* controls = ui->form;
    controls->sshHost->setToolTip(text.isEmpty() ? QStringLiteral("选择或输入 SSH 主机") : text);
    controls->sshClearCache->setEnabled(!text.trimmed().isEmpty());
}

void Window::clearSshCacheOfForm()
{
    try {
        clearSshCache(form(), engine, this, theme);
    } catch (const std::exception& failure) {
        error(QString::fromUtf8(failure.what()));
    }
}

} // namespace vn
