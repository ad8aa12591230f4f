#pragma once

#include <QJsonObject>
#include <QString>

class QComboBox;

namespace vn {

// The data roles a listed port item of the port box carries.
constexpr int PortJtagRole = Qt::UserRole + 1;   // bool: USB Serial/JTAG device
constexpr int PortObjectRole = Qt::UserRole + 2; // QJsonObject: the whole port object

// The lines that describe a port to the user: description, manufacturer, USB
// identity, serial number and, when detailed, the device path; empty lines
// are left out.
QString portDescription(const QJsonObject& port, bool detailed);

// The item of the port box that names `text`. Names are matched ignoring case,
// as the listed names are; a device path keeps its case, so it only matches
// itself exactly. -1 when there is none.
int findPortItem(const QComboBox* box, const QString& text);

// A port text that names a device node by its path (only ever typed by hand,
// or kept from what was typed), rather than a port the system lists.
bool isDevicePath(const QString& text);

// Whether two port texts name the same port under the rule above.
bool samePortText(const QString& a, const QString& b);

} // namespace vn
