#include "ui/window/Window.h"

#include "core/Channel.h"
#include "core/Engine.h"
#include "platform/SerialDevice.h"
#include "ui/kit/Combo.h"
#include "ui/pages/Pane.h"
#include "ui/window/ConnectionForm.h"
#include "ui/window/PortText.h"
#include "ui/window/WindowWidgets.h"

#include <QJsonObject>
#include <QLineEdit>
#include <QSignalBlocker>
#include <QStringList>

namespace vn {

namespace {

QStringList listedNames(const QJsonArray& ports)
{
    QStringList names;
    for (const QJsonValue& value : ports) {
        const QString name = value.toObject().value(QStringLiteral("port")).toString();
        if (name.isEmpty() || name == QLatin1String("NULL") || names.contains(name))
            continue;
        names.append(name);
    }
    return names;
}

// Brings the items after "NULL" in line with the names, touching only the
// items whose place changed so the others keep their data.
void rebuildItems(QComboBox* box, const QJsonArray& ports)
{
    const QStringList names = listedNames(ports);
    for (int index = box->count() - 1; index >= 1; --index) {
        if (!names.contains(box->itemText(index)))
            box->removeItem(index);
    }
    for (int position = 0; position < names.size(); ++position) {
        const QString& name = names.at(position);
        if (position + 1 < box->count() && box->itemText(position + 1) == name)
            continue;
        for (int index = box->count() - 1; index >= 1; --index) {
            if (box->itemText(index) == name)
                box->removeItem(index);
        }
        box->insertItem(position + 1, name);
    }
    for (const QJsonValue& value : ports) {
        const QJsonObject port = value.toObject();
        const QString name = port.value(QStringLiteral("port")).toString();
        const int index = box->findText(name, Qt::MatchExactly | Qt::MatchCaseSensitive);
        if (index <= 0)
            continue;
        box->setItemData(index, name + QLatin1Char('\n') + portDescription(port, true), Qt::ToolTipRole);
        box->setItemData(index, port.value(QStringLiteral("usb_serial_jtag")).toBool(), PortJtagRole);
        box->setItemData(index, port, PortObjectRole);
    }
}

} // namespace

void Window::refreshPorts()
{
    if (closing || !portProvider)
        return;
    const QJsonArray ports = portProvider();
    engine->checkSerialDevices(ports);
    const bool changed = !ui->portsListed || ports != lastPorts;
    ui->portsListed = true;
    lastPorts = ports;

    Combo* box = ui->form->port;
    QLineEdit* edit = box->lineEdit();
    const QString remembered = box->currentText();
    const int caret = edit->cursorPosition();
    const int selectionStart = edit->selectionStart();
    const int selectionLength = int(edit->selectedText().size());
    const bool boxBlocked = box->blockSignals(true);
    const bool editBlocked = edit->blockSignals(true);

    if (changed)
        rebuildItems(box, ports);

    QString chosen;
    if (const int index = findPortItem(box, remembered); index >= 0) {
        chosen = remembered.isEmpty() ? QStringLiteral("NULL") : box->itemText(index);
    } else {
        // Whatever the user is typing stays until they are done (a name such as
        // "loop://" is typed a key at a time, across refreshes). A device path
        // stays while its node exists, since the system's list leaves out ptys
        // and symlinks, and a typed one until the user changes it, since its
        // device may be plugged in later.
        const bool typing = edit->hasFocus() && edit->isModified();
        const bool kept = typing || remembered == QLatin1String("loop://") || holdsSerialPort(remembered)
            || keepsDevicePath(remembered);
        chosen = kept && !remembered.isEmpty() ? remembered : QStringLiteral("NULL");
    }
    if (box->currentText() != chosen)
        box->setEditText(chosen);
    if (chosen == remembered) {
        edit->setCursorPosition(caret);
        if (selectionStart >= 0)
            edit->setSelection(selectionStart, selectionLength);
    }

    if (sessionPane && !sessionPane->channel)
        sessionPane->config.port = chosen;

    if (changed) {
        for (Pane* page : std::as_const(pages)) {
            if (page->isControl())
                page->refreshSource();
        }
    }
    updateStatus();
    edit->blockSignals(editBlocked);
    box->blockSignals(boxBlocked);
}

bool Window::keepsDevicePath(const QString& port) const
{
    if (!isDevicePath(port))
        return false;
    return (sessionPane && sessionPane->typedPort == port) || platform::SerialDevice::exists(port);
}

bool Window::holdsSerialPort(const QString& port) const
{
    if (!sessionPane || !sessionPane->channel)
        return false;
    const Channel* channel = sessionPane->channel;
    return channel->config.kind == QLatin1String("serial") && channel->config.port == port && !channel->userClosed
        && (channel->state == QLatin1String("connected") || channel->state == QLatin1String("reconnecting"));
}

} // namespace vn
