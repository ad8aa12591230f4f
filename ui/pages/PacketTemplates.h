#pragma once

#include <QJsonArray>
#include <QJsonObject>
#include <QString>

class QMenu;

namespace vn {

class Pane;
class SendBar;

// Named snapshots of a sender: the text and its three send options. One list
// for the whole program, held by the root window and saved in the workspace.
class PacketTemplates {
public:
    static QJsonObject capture(const SendBar& sender, const QString& name);
    static void apply(SendBar& sender, const QJsonObject& entry);

    // Checks every element; an empty text when the array may replace the list.
    static QString validate(const QJsonArray& templates);
    // Reads a template file; the message of why it cannot be used, else empty.
    static QString read(const QString& path, QJsonArray* templates);
    // Writes the list as an indented JSON array, replacing the target only when
    // whole; the system's error text, else empty.
    static QString write(const QJsonArray& templates, const QString& path);

    // Replace the shared list from a file, or write it to one; a failure is
    // shown through the page's window and changes nothing.
    static bool importFrom(Pane& page, const QString& path);
    static bool exportTo(Pane& page, const QString& path);

    // The template button's menu: the templates, then save, import and export.
    static void fillMenu(QMenu& menu, Pane& page);

private:
    static void saveCurrent(Pane& page);
    static void importFile(Pane& page);
    static void exportFile(Pane& page);
};

} // namespace vn
