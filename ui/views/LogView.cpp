#include "ui/views/LogView.h"

#include "core/Journal.h"
#include "core/StreamDecoder.h"
#include "ui/kit/IconPainter.h"

#include <QPainter>
#include <QScrollBar>
#include <QTextDocument>
#include <QTimer>
#include <QWheelEvent>

#include <algorithm>

namespace vn {

LogView::LogView(QWidget* parent) : QTextEdit(parent), m_renderer(*document(), m_lines)
{
    setObjectName(QStringLiteral("monitor"));
    setReadOnly(true);
    setLineWrapMode(QTextEdit::WidgetWidth);
    setWordWrapMode(QTextOption::WrapAtWordBoundaryOrAnywhere);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    // The rendering keeps to the held rows itself; the bound is a guard.
    document()->setMaximumBlockCount(kMaxLines);
    document()->setUndoRedoEnabled(false);
    if (follow)
        scrollToEnd();
}

LogView::~LogView() = default;

LogStreams::Style LogView::style() const
{
    return LogStreams::Style{&theme, timestamps};
}

void LogView::scrollToEnd()
{
    verticalScrollBar()->setValue(verticalScrollBar()->maximum());
}

void LogView::reset()
{
    m_lines.clear();
    m_streams.clear();
    m_renderer.clear();
    viewport()->update();
}

void LogView::feed(const QJsonObject& event)
{
    const QString direction = event.value(QLatin1String("direction")).toString();
    const QString peer = event.value(QLatin1String("peer")).toString();
    if (event.value(QLatin1String("stream_reset")).toBool())
        m_streams.clear();
    LogStream& stream = m_streams.stream(direction + u':' + peer, encoding);

    const QString hex = event.value(QLatin1String("hex")).toString();
    const QByteArray bytes = QByteArray::fromHex(hex.toLatin1());
    QString text;
    bool hexText = false;
    if (hexMode && !bytes.isEmpty()) {
        text = hex.toUpper() + u'\n';
        hexText = true;
    } else {
        text = stream.decoder->decode(bytes);
    }
    if (direction == QLatin1String("status")) {
        text = event.value(QLatin1String("message")).toString() + u'\n';
        hexText = false;
    }
    const LogStreams::Origin origin{event.value(QLatin1String("time")).toString(), direction, peer};
    m_streams.write(stream, text, origin, style(), hexText);
    scheduleRender();
}

void LogView::markGap(const QString& message)
{
    m_streams.clear();
    m_streams.notice(message, LogStreams::Origin{now(), QStringLiteral("status"), QString()}, style());
    scheduleRender();
}

QString LogView::plainText() const
{
    QString text;
    for (int index = 0; index < m_lines.size(); ++index) {
        if (index)
            text += u'\n';
        text += m_lines.at(index).text;
    }
    return text;
}

void LogView::setFilter(const SearchFilter& filter)
{
    m_lines.setFilter(filter);
    m_renderer.revisitAll();
    scheduleRender();
}

void LogView::scheduleRender()
{
    if (m_renderScheduled || !isVisible())
        return;
    m_renderScheduled = true;
    QMetaObject::invokeMethod(this, &LogView::render, Qt::QueuedConnection);
}

void LogView::render()
{
    m_renderScheduled = false;
    if (!isVisible())
        return;
    const int scroll = verticalScrollBar()->value();
    const bool done = m_renderer.step(kRenderBudgetNanos);
    if (follow)
        scrollToEnd();
    else
        verticalScrollBar()->setValue(scroll);
    if (!done) {
        // The rest waits for the next turn, after whatever else is waiting.
        m_renderScheduled = true;
        QTimer::singleShot(0, this, &LogView::render);
    }
}

void LogView::showEvent(QShowEvent* event)
{
    QTextEdit::showEvent(event);
    scheduleRender();
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
    QTextEdit::paintEvent(event);
    if (m_lines.isEmpty() && document()->isEmpty())
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
