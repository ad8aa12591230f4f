#include "ui/window/TabTitleEditor.h"

#include <QKeyEvent>

namespace vn {

TabTitleEditor::TabTitleEditor(QWidget* parent)
    : QLineEdit(parent)
{
    setObjectName(QStringLiteral("tabTitleEditor"));
    setFrame(false);
    setMaxLength(80);
}

TabTitleEditor::~TabTitleEditor() = default;

void TabTitleEditor::finish(bool accepted)
{
    if (finished)
        return;
    finished = true;
    if (commit)
        commit(accepted);
    deleteLater();
}

void TabTitleEditor::keyPressEvent(QKeyEvent* event)
{
    switch (event->key()) {
    case Qt::Key_Escape:
        finish(false);
        event->accept();
        return;
    case Qt::Key_Return:
    case Qt::Key_Enter:
        finish(true);
        event->accept();
        return;
    default:
        QLineEdit::keyPressEvent(event);
    }
}

void TabTitleEditor::focusOutEvent(QFocusEvent* event)
{
    QLineEdit::focusOutEvent(event);
    finish(true);
}

} // namespace vn
