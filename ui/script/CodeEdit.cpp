#include "ui/script/CodeEdit.h"

#include "ui/script/CodeColors.h"

#include <QKeyEvent>
#include <QPainter>
#include <QTextBlock>

namespace vn {

CodeEdit::CodeEdit(QWidget* parent) : QPlainTextEdit(parent), gutter(new QWidget(this))
{
    gutter->installEventFilter(this);
    connect(this, &QPlainTextEdit::blockCountChanged, this, [this] { updateLayout(); });
    connect(this, &QPlainTextEdit::updateRequest, this, &CodeEdit::updateGutter);
    updateLayout();
}

int CodeEdit::gutterWidth() const
{
    int digits = 1;
    for (int count = qMax(1, blockCount()); count >= 10; count /= 10)
        ++digits;
    return fontMetrics().horizontalAdvance(QLatin1Char('9')) * digits + 16;
}

void CodeEdit::updateLayout()
{
    const int width = gutterWidth();
    setViewportMargins(width, 0, 0, 0);
    const QRect area = contentsRect();
    gutter->setGeometry(area.x(), area.y(), width, area.height());
}

void CodeEdit::updateGutter(const QRect& rect, int dy)
{
    if (dy != 0)
        gutter->scroll(0, dy);
    else
        gutter->update(0, rect.y(), gutter->width(), rect.height());
    if (rect.contains(viewport()->rect()))
        updateLayout();
}

bool CodeEdit::eventFilter(QObject* watched, QEvent* event)
{
    if (watched != gutter || event->type() != QEvent::Paint)
        return QPlainTextEdit::eventFilter(watched, event);
    paintGutter();
    return true;
}

void CodeEdit::paintGutter()
{
    QPainter painter(gutter);
    painter.fillRect(gutter->rect(), palette().color(QPalette::Base));
    QColor pen = palette().color(QPalette::Text);
    pen.setAlpha(130);
    painter.setPen(pen);
    painter.setFont(font());
    const int lineHeight = fontMetrics().height();
    QTextBlock block = firstVisibleBlock();
    int top = qRound(blockBoundingGeometry(block).translated(contentOffset()).top());
    while (block.isValid() && top <= gutter->height()) {
        const int height = qRound(blockBoundingRect(block).height());
        if (block.isVisible() && top + height >= 0)
            painter.drawText(0, top, gutter->width() - 8, lineHeight, Qt::AlignRight,
                             QString::number(block.blockNumber() + 1));
        block = block.next();
        top += height;
    }
}

void CodeEdit::keyPressEvent(QKeyEvent* event)
{
    const bool plain = event->modifiers() == Qt::NoModifier;
    if (plain && event->key() == Qt::Key_Tab) {
        insertPlainText(QStringLiteral("    "));
        return;
    }
    if (plain && (event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter)) {
        QTextCursor cursor = textCursor();
        const QString before = cursor.block().text().left(cursor.positionInBlock());
        qsizetype indent = 0;
        while (indent < before.size() && before.at(indent).isSpace())
            ++indent;
        QString insert = QStringLiteral("\n") + before.left(indent);
        if (before.trimmed().endsWith(QLatin1Char('{')))
            insert += QStringLiteral("    ");
        cursor.insertText(insert);
        setTextCursor(cursor);
        return;
    }
    QPlainTextEdit::keyPressEvent(event);
}

void CodeEdit::resizeEvent(QResizeEvent* event)
{
    QPlainTextEdit::resizeEvent(event);
    updateLayout();
}

void CodeEdit::changeEvent(QEvent* event)
{
    QPlainTextEdit::changeEvent(event);
    if (event->type() != QEvent::FontChange && event->type() != QEvent::StyleChange)
        return;
    updateLayout();
    if (highlighter)
        highlighter->rehighlight();
}

} // namespace vn
