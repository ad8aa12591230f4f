#include "ui/pages/ReceiveArea.h"

#include "core/Journal.h"
#include "ui/views/LogView.h"
#include "ui/views/TerminalView.h"

#include <QJsonArray>
#include <QStackedWidget>
#include <QVBoxLayout>

#include <utility>

namespace vn {

ReceiveArea::ReceiveArea(QWidget* parent)
    : BackgroundSurface(parent)
{
    setObjectName(QStringLiteral("receiveBackgroundSurface"));
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    stack = new QStackedWidget;
    log = new LogView;
    terminal = new TerminalView;
    stack->addWidget(log);
    stack->addWidget(terminal);
    stack->setCurrentWidget(log);
    layout->addWidget(stack);
}

int ReceiveArea::pull(const Journal& journal, const QString& channelId, bool ssh, const QString& terminalEncoding)
{
    const QJsonObject page = journal.read(readCursor, EventsPerTick, channelId);
    readCursor = page.value(QLatin1String("next_cursor")).toInteger(0);
    if (page.value(QLatin1String("gap")).toBool()) {
        // The notice goes in as a status line that resets every decoding
        // stream, so no half line or half character is joined across the gap.
        log->feed(QJsonObject{{QStringLiteral("time"), now()},
                              {QStringLiteral("channel_id"), channelId},
                              {QStringLiteral("direction"), QStringLiteral("status")},
                              {QStringLiteral("peer"), QString()},
                              {QStringLiteral("hex"), QString()},
                              {QStringLiteral("message"), QStringLiteral("部分旧数据已被历史缓冲区覆盖")},
                              {QStringLiteral("stream_reset"), true}});
        terminal->reset(terminalEncoding);
    }
    const QJsonArray events = page.value(QLatin1String("events")).toArray();
    // The terminal reads a byte stream, so the received bytes of one tick go
    // to it in one piece; a stream reset first hands over what came before it.
    QByteArray pending;
    for (const QJsonValue& value : events) {
        const QJsonObject event = value.toObject();
        if (!ssh)
            log->feed(event);
        if (event.value(QLatin1String("stream_reset")).toBool()) {
            if (!pending.isEmpty())
                terminal->feed(std::exchange(pending, QByteArray()));
            terminal->reset(terminalEncoding);
        }
        if (event.value(QLatin1String("direction")).toString() == QLatin1String("rx")
            && event.value(QLatin1String("message")).toString() != QLatin1String("file-transfer"))
            pending += QByteArray::fromHex(event.value(QLatin1String("hex")).toString().toLatin1());
    }
    if (!pending.isEmpty())
        terminal->feed(pending);
    return static_cast<int>(events.size());
}

void ReceiveArea::clear(qint64 latest, const QString& terminalEncoding)
{
    readCursor = latest;
    baseCursor = latest;
    log->reset();
    terminal->reset(terminalEncoding);
}

void ReceiveArea::replay(const QString& terminalEncoding)
{
    readCursor = baseCursor;
    log->reset();
    terminal->reset(terminalEncoding);
}

void ReceiveArea::showTerminal(bool on)
{
    stack->setCurrentWidget(on ? static_cast<QWidget*>(terminal) : static_cast<QWidget*>(log));
}

} // namespace vn
