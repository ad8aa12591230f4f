#include "ui/kit/SearchBox.h"

#include "ui/kit/IconButton.h"
#include "ui/kit/IconPainter.h"

#include <QPainter>

namespace vn {

SearchBox::SearchBox(QWidget* parent)
    : QLineEdit(parent)
    , m_clear(new IconButton(QStringLiteral("close"), QStringLiteral("清空搜索"), this))
{
    setObjectName(QStringLiteral("searchBox"));
    setClearButtonEnabled(false);
    setTextMargins(25, 0, 28, 0);
    setMinimumWidth(70);
    setMaximumWidth(260);
    m_clear->setObjectName(QStringLiteral("clearSearch"));
    m_clear->setFixedSize(26, 26);
    m_clear->setFocusPolicy(Qt::NoFocus);
    m_clear->hide();
    connect(m_clear, &QAbstractButton::clicked, this, [this] {
        clear();
        setFocus(Qt::OtherFocusReason);
    });
    connect(this, &QLineEdit::textChanged, this,
            [this](const QString& text) { m_clear->setVisible(!text.isEmpty()); });
}

void SearchBox::resizeEvent(QResizeEvent* event)
{
    QLineEdit::resizeEvent(event);
    m_clear->move(width() - m_clear->width() - 5, (height() - m_clear->height()) / 2);
}

void SearchBox::paintEvent(QPaintEvent* event)
{
    QLineEdit::paintEvent(event);
    QPainter painter(this);
    drawIcon(painter, QStringLiteral("search"), QRectF(11, (height() - 17) / 2, 17, 17),
             m_clear->theme.muted, 0);
}

} // namespace vn
