#pragma once

#include <QPointer>
#include <QStyledItemDelegate>

namespace vn {

class Window;

// Draws a listed port of the port box on two lines: the name with its
// description, and below it, muted, the manufacturer, USB identity and serial
// number. The "NULL" entry, which has no port object, is drawn as usual.
class PortDelegate : public QStyledItemDelegate {
    Q_OBJECT
public:
    PortDelegate(Window* window, QObject* parent);

    void paint(QPainter* painter, const QStyleOptionViewItem& option, const QModelIndex& index) const override;
    QSize sizeHint(const QStyleOptionViewItem& option, const QModelIndex& index) const override;

private:
    QPointer<Window> window;
};

} // namespace vn
