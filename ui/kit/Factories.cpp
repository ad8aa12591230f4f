#include "ui/kit/Factories.h"

#include "ui/kit/Combo.h"

#include <QBoxLayout>
#include <QDialog>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QScrollArea>

#include <algorithm>

namespace vn {

QHBoxLayout* horizontal(QWidget* parent)
{
    auto* layout = new QHBoxLayout(parent);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(8);
    return layout;
}

QPushButton* button(const QString& text, const QString& variant)
{
    auto* result = new QPushButton(text);
    result->setObjectName(variant);
    result->setProperty("variant", variant);
    result->setCursor(Qt::PointingHandCursor);
    return result;
}

QLabel* label(const QString& text, const QString& objectName)
{
    auto* result = new QLabel(text);
    result->setObjectName(objectName);
    return result;
}

QString menuText(QString name)
{
    return name.replace(QLatin1Char('&'), QLatin1String("&&"));
}

Combo* combo(const QList<QString>& items, const QString& current, bool editable)
{
    auto* result = new Combo;
    result->addItems(items);
    result->setEditable(editable);
    if (!current.isEmpty()) {
        result->setCurrentText(current);
    }
    if (editable && result->lineEdit()) {
        result->lineEdit()->setTextMargins(0, 0, 0, 0);
    }
    return result;
}

QScrollArea* scrollPanel(QWidget* content, const QString& objectName)
{
    auto* area = new QScrollArea;
    area->setObjectName(objectName);
    area->setFrameShape(QFrame::NoFrame);
    area->setWidgetResizable(true);
    area->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Ignored);
    area->setMinimumSize(0, 0);
    area->setWidget(content);
    content->setAutoFillBackground(false); // setWidget switched it on

    return area;
}

void makeDialogScrollable(QDialog* dialog, const QSize& minimumSize)
{
    auto* layout = dialog ? qobject_cast<QBoxLayout*>(dialog->layout()) : nullptr;
    if (!layout) {
        return;
    }
    const QSize natural = dialog->testAttribute(Qt::WA_Resized) ? dialog->size() : layout->totalSizeHint();

    auto* content = new QWidget;
    content->setObjectName(QStringLiteral("dialogContent"));
    auto* contentLayout = new QVBoxLayout(content);
    contentLayout->setContentsMargins(0, 0, 0, 0);
    contentLayout->setSpacing(layout->spacing());

    while (layout->count() > 1) {
        const int stretch = layout->stretch(0);
        QLayoutItem* item = layout->takeAt(0);
        if (QWidget* widget = item->widget()) {
            contentLayout->addWidget(widget, stretch, item->alignment());
            delete item;
        } else if (QLayout* nested = item->layout()) {
            contentLayout->addLayout(nested, stretch);
        } else if (QSpacerItem* spacer = item->spacerItem()) {
            contentLayout->addSpacerItem(spacer);
            contentLayout->setStretch(contentLayout->count() - 1, stretch);
        } else {
            delete item;
        }
    }

    layout->insertWidget(0, scrollPanel(content, QStringLiteral("dialogContentScroll")), 1);
    dialog->setMinimumSize(minimumSize);
    dialog->setSizeGripEnabled(true);
    dialog->setWindowFlags(dialog->windowFlags() | Qt::WindowMaximizeButtonHint);
    dialog->resize(std::max(natural.width(), minimumSize.width()),
                   std::max(natural.height(), minimumSize.height()));
}

} // namespace vn
