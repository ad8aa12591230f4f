#include "ui/views/LogView.h"

#include "core/StreamDecoder.h"
#include "ui/kit/IconPainter.h"

#include <QPainter>
#include <QScrollBar>
#include <QTextCursor>
#include <QTextDocument>
#include <QWheelEvent>

#include <algorithm>
#include <optional>

namespace vn {

namespace {

constexpr QChar kEsc = QChar(0x1B);

// Characters the text engine would turn into block or frame boundaries; device
// data must not split lines behind the view's back.
QString sanitized(QStringView run)
{
    QString out = run.toString();
    for (QChar& ch : out) {
        const char16_t u = ch.unicode();
        if (u == 0x2029 || u == 0xFDD0 || u == 0xFDD1)
            ch = QChar(QChar::ReplacementCharacter);
    }
    return out;
}

bool needsSanitizing(QStringView run)
{
    for (QChar ch : run) {
        const char16_t u = ch.unicode();
        if (u == 0x2029 || u == 0xFDD0 || u == 0xFDD1)
            return true;
    }
    return false;
}

// The base direction the text engine would find for a line that begins
// with this text: that of its first strong character; none when it has none.
std::optional<Qt::LayoutDirection> textDirectionOf(QStringView text)
{
    for (QChar ch : text) {
        switch (ch.direction()) {
        case QChar::DirL:
            return Qt::LeftToRight;
        case QChar::DirR:
        case QChar::DirAL:
            return Qt::RightToLeft;
        default:
            break;
        }
    }
    return std::nullopt;
}

} // namespace

LogView::Stream::Stream() = default;
LogView::Stream::~Stream() = default;

LogView::LogView(QWidget* parent) : QTextEdit(parent)
{
    setObjectName(QStringLiteral("monitor"));
    setReadOnly(true);
    setLineWrapMode(QTextEdit::WidgetWidth);
    setWordWrapMode(QTextOption::WrapAtWordBoundaryOrAnywhere);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    document()->setMaximumBlockCount(kMaxLines);
    document()->setUndoRedoEnabled(false);
    if (follow)
        scrollToEnd();
}

LogView::~LogView() = default;

void LogView::scrollToEnd()
{
    verticalScrollBar()->setValue(verticalScrollBar()->maximum());
}

void LogView::openBatch()
{
    if (m_batchOpen)
        return;
    m_batchOpen = true;
    m_batchScroll = verticalScrollBar()->value();
    m_batch = QTextCursor(document());
    m_batch.beginEditBlock();
    QMetaObject::invokeMethod(this, &LogView::closeBatch, Qt::QueuedConnection);
}

void LogView::closeBatch()
{
    if (!m_batchOpen)
        return;
    m_batchOpen = false;
    m_batch.endEditBlock();
    m_batch = QTextCursor();
    if (follow)
        scrollToEnd();
    else
        verticalScrollBar()->setValue(m_batchScroll);
}

void LogView::reset()
{
    closeBatch();
    document()->clear();
    m_streams.clear();
    m_linesOpened = 0;
}

void LogView::feed(const QJsonObject& event)
{
    const QString direction = event.value(QLatin1String("direction")).toString();
    const QString peer = event.value(QLatin1String("peer")).toString();
    const QString key = direction + u':' + peer;
    if (event.value(QLatin1String("stream_reset")).toBool())
        m_streams.clear();
    std::shared_ptr<Stream>& slot = m_streams[key];
    if (!slot) {
        slot = std::make_shared<Stream>();
        slot->decoder = std::make_unique<StreamDecoder>(encoding);
    }
    Stream& stream = *slot;

    const QString hex = event.value(QLatin1String("hex")).toString();
    const QByteArray bytes = QByteArray::fromHex(hex.toLatin1());
    QString text;
    if (hexMode && !bytes.isEmpty())
        text = hex.toUpper() + u'\n';
    else
        text = stream.decoder->decode(bytes);
    if (direction == QLatin1String("status"))
        text = event.value(QLatin1String("message")).toString() + u'\n';

    // The scroll position is noted when the tick's edit opens and set when
    // it closes, once the layout has followed.
    openBatch();
    const Prefix prefix{event.value(QLatin1String("time")).toString(), direction, peer};
    interpret(stream, text, prefix);
}

void LogView::interpret(Stream& stream, QStringView text, const Prefix& prefix)
{
    const qsizetype n = text.size();
    for (qsizetype i = 0; i < n; ++i) {
        const QChar ch = text[i];
        const char16_t u = ch.unicode();
        if (stream.osc) {
            stream.escape += ch;
            if (u == 0x07 || stream.escape.endsWith(QStringLiteral("\x1b\\"))
                || stream.escape.size() > 4096) {
                stream.escape.clear();
                stream.osc = false;
            }
            continue;
        }
        if (!stream.escape.isEmpty()) {
            stream.escape += ch;
            const qsizetype size = stream.escape.size();
            if (size == 2 && u == u']') {
                stream.osc = true;
            } else if (stream.escape.at(1) == u'[') {
                if (size > 2 && u >= 0x40 && u <= 0x7E) {
                    if (u == u'm') {
                        QList<int> parameters;
                        for (QStringView piece : QStringView(stream.escape).sliced(2, size - 3).split(u';'))
                            parameters.append(piece.toInt());
                        stream.attributes.sgr(parameters, theme);
                    }
                    stream.escape.clear();
                } else if (size > 128) {
                    stream.escape.clear();
                }
            } else {
                // ESC followed by anything but "[" or "]": both are dropped.
                stream.escape.clear();
            }
            continue;
        }
        if (u == 0x1B) {
            stream.escape = kEsc;
        } else if (u == u'\r') {
            if (!openBlock(stream).isValid())
                openLine(stream, prefix);
            stream.line = -1;
            stream.afterCr = true;
        } else if (u == u'\n') {
            if (stream.afterCr) {
                stream.afterCr = false;
                continue;
            }
            if (!openBlock(stream).isValid())
                openLine(stream, prefix);
            stream.line = -1;
        } else if (u < 0x20 && u != u'\t') {
            stream.afterCr = false;
        } else {
            stream.afterCr = false;
            qsizetype end = i + 1;
            while (end < n && (text[end].unicode() >= 0x20 || text[end] == u'\t'))
                ++end;
            write(stream, text.sliced(i, end - i), prefix);
            i = end - 1;
        }
    }
}

void LogView::write(Stream& stream, QStringView run, const Prefix& prefix)
{
    while (!run.isEmpty()) {
        QTextBlock block = openBlock(stream);
        if (!block.isValid())
            block = openLine(stream, prefix);
        else if (stream.length >= kMaxLineLength)
            block = openLine(stream, prefix, true);
        qsizetype piece = std::min(run.size(), kMaxLineLength - stream.length);
        // A surrogate pair stays on one line.
        if (piece < run.size() && run[piece - 1].isHighSurrogate() && run[piece].isLowSurrogate())
            ++piece;
        appendRun(stream, block, run.first(piece), prefix.direction);
        stream.length += piece;
        run = run.sliced(piece);
    }
}

QTextBlock LogView::openBlock(const Stream& stream) const
{
    if (stream.line < 0)
        return QTextBlock();
    // The document drops its oldest lines when the tick's edit closes; a line
    // beyond the newest 4000 already counts as gone, so that no stream writes
    // into a line that is about to be dropped.
    if (stream.line < m_linesOpened - kMaxLines)
        return QTextBlock();
    // Lines leave only from the top, so the number of lines removed so far is
    // what was opened minus what is left.
    const qint64 removed = m_linesOpened - document()->blockCount();
    const qint64 number = stream.line - removed;
    if (number < 0)
        return QTextBlock();
    return document()->findBlockByNumber(static_cast<int>(number));
}

QTextBlock LogView::openLine(Stream& stream, const Prefix& prefix, bool continuation)
{
    QString text;
    if (timestamps)
        text += prefix.time.mid(11, 12) + QStringLiteral("  ");
    // A "+" after the direction marks a line that goes on from the one before.
    text += (prefix.direction.toUpper() + (continuation ? QStringLiteral("+") : QString())).leftJustified(6, u' ');
    if (!prefix.peer.isEmpty())
        text += prefix.peer + QStringLiteral("  ");

    // The prefix opens the line, so it alone settles the line's direction;
    // stating it spares the layout a scan of every line's text each time the
    // oldest lines are dropped and the rest move up.
    QTextBlockFormat blockFormat;
    if (document()->defaultTextOption().textDirection() == Qt::LayoutDirectionAuto) {
        if (const std::optional<Qt::LayoutDirection> direction = textDirectionOf(text))
            blockFormat.setLayoutDirection(*direction);
    }
    if (!m_prefixFormat.hasProperty(QTextFormat::ForegroundBrush) || m_prefixFormat.foreground().color() != theme.muted) {
        m_prefixFormat = QTextCharFormat();
        m_prefixFormat.setForeground(theme.muted);
        m_prefixFormat.setFontWeight(QFont::Normal);
    }

    QTextCursor& cursor = m_batch;
    cursor.setPosition(document()->characterCount() - 1);
    if (document()->isEmpty())
        cursor.setBlockFormat(blockFormat);
    else
        cursor.insertBlock(blockFormat, QTextCharFormat());
    ++m_linesOpened;
    cursor.insertText(text, m_prefixFormat);
    stream.line = m_linesOpened - 1;
    stream.length = 0;
    const QTextBlock block = cursor.block();
    evaluate(block);
    return block;
}

void LogView::appendRun(Stream& stream, const QTextBlock& block, QStringView run, const QString& direction)
{
    QTextCursor& cursor = m_batch;
    cursor.setPosition(block.position() + block.length() - 1);
    QTextCharFormat format;
    const AnsiState& a = stream.attributes;
    if (a.foreground.isValid())
        format.setForeground(a.foreground);
    else if (direction == QLatin1String("tx"))
        format.setForeground(theme.accent);
    else if (direction == QLatin1String("status"))
        format.setForeground(theme.amber);
    else
        format.setForeground(theme.text);
    if (a.background.isValid())
        format.setBackground(a.background);
    format.setFontWeight(a.bold ? QFont::Bold : QFont::Normal);
    cursor.insertText(needsSanitizing(run) ? sanitized(run) : run.toString(), format);
    if (!m_filterText.isEmpty())
        evaluate(block);
}

void LogView::evaluate(QTextBlock block)
{
    if (!block.isValid())
        return;
    // Without a filter every line is shown; its text need not be built.
    const bool visible = m_filterText.isEmpty() || m_filter.matches(block.text());
    if (block.isVisible() == visible)
        return;
    block.setVisible(visible);
    // Within the tick's edit the block is laid out anew when the edit closes
    // (it was just written); telling the layout now would lay out at once.
    if (!m_batchOpen)
        document()->markContentsDirty(block.position(), block.length());
}

void LogView::setFilter(const SearchFilter& filter)
{
    closeBatch();
    m_filter = filter;
    m_filterText = filter.text;
    const int scroll = verticalScrollBar()->value();
    for (QTextBlock block = document()->begin(); block.isValid(); block = block.next())
        block.setVisible(m_filter.matches(block.text()));
    document()->markContentsDirty(0, document()->characterCount());
    viewport()->update();
    if (follow)
        scrollToEnd();
    else
        verticalScrollBar()->setValue(scroll);
}

void LogView::setWrapping(bool on)
{
    setLineWrapMode(on ? QTextEdit::WidgetWidth : QTextEdit::NoWrap);
    setHorizontalScrollBarPolicy(on ? Qt::ScrollBarAlwaysOff : Qt::ScrollBarAsNeeded);
    if (follow)
        scrollToEnd();
}

void LogView::wheelEvent(QWheelEvent* event)
{
    if (event->modifiers() & Qt::ControlModifier) {
        Q_EMIT zoomRequested(event->angleDelta().y() / 120);
        event->accept();
        return;
    }
    QTextEdit::wheelEvent(event);
}

void LogView::scrollContentsBy(int dx, int dy)
{
    QTextEdit::scrollContentsBy(dx, dy);
    if (transparentBackground)
        viewport()->update();
}

void LogView::paintEvent(QPaintEvent* event)
{
    // Never paint a layout that lags behind the text.
    if (m_batchOpen) {
        closeBatch();
        viewport()->update();
    }
    QTextEdit::paintEvent(event);
    if (document()->isEmpty())
        paintPlaceholder();
}

void LogView::paintPlaceholder()
{
    QPainter painter(viewport());
    painter.setRenderHint(QPainter::Antialiasing);
    const int w = viewport()->width();
    const int h = viewport()->height();
    QFont font = Theme::interfaceFont();
    const QString title = QStringLiteral("等待设备数据");
    if (h < 180) {
        painter.setFont(font);
        painter.setPen(theme.muted);
        painter.drawText(QRect(0, 0, w, h), Qt::AlignCenter, title);
        return;
    }
    const int t = std::max(h / 2 - 90, 20);
    drawIcon(painter, QStringLiteral("lightning"), QRectF(w / 2 - 36, t - 4, 72, 72), theme.green, 0);
    QFont big = font;
    big.setPixelSize(22);
    painter.setFont(big);
    painter.setPen(theme.text);
    painter.drawText(QRect(0, t + 82, w, 29), Qt::AlignCenter, title);
    painter.setFont(font);
    painter.setPen(theme.muted);
    painter.drawText(QRect(8, t + 124, w - 16, 23), Qt::AlignCenter,
                     QStringLiteral("建立连接后，收发内容会显示在这里"));
}

} // namespace vn
