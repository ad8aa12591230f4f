#pragma once

#include <QList>
#include <QSize>
#include <QString>

class QDialog;
class QHBoxLayout;
class QLabel;
class QPushButton;
class QScrollArea;
class QWidget;

namespace vn {

class Combo;

// Small builders that give every form the same spacing and style keys. None
// gives the new widget a parent: the layout it is placed in owns it.

// A horizontal box layout on `parent` (may be null), margins 0, spacing 8.
QHBoxLayout* horizontal(QWidget* parent);

// A push button whose object name and "variant" property are both `variant`
// ("primary", "outline" or empty), with a pointing-hand cursor.
QPushButton* button(const QString& text, const QString& variant);

QLabel* label(const QString& text, const QString& objectName);

// A menu entry's text for a name the user chose (a group, a port, a template):
// an "&" in it is shown, never taken as a mnemonic marker.
QString menuText(QString name);

// A Combo with the items; `current`, when not empty, becomes the current text.
Combo* combo(const QList<QString>& items, const QString& current, bool editable);

// A frameless, widget-resizable scroll area around `content` that grows
// sideways and lets its parent decide its height.
QScrollArea* scrollPanel(QWidget* content, const QString& objectName);

// Moves every item of the dialog's box layout but the last (the button row)
// into a scrolling "dialogContent" so the buttons stay in view on small
// screens; then gives the dialog the minimum size, a size grip and a maximize
// button, and keeps at least its former size.
void makeDialogScrollable(QDialog* dialog, const QSize& minimumSize);

} // namespace vn
