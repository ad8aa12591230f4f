#include "ui/pages/ReceiveArea.h"

#include "core/Journal.h"
#include "ui/views/LogView.h"
#include "ui/views/TerminalView.h"

#include <QElapsedTimer>
#include <QJsonArray>
#include <QLabel>
#include <QLocale>
#include <QStackedWidget>
#include <QVBoxLayout>

#include <algorithm>

namespace vn {

namespace {

const QString kOverwritten = QStringLiteral("部分旧数据已被历史缓冲区覆盖");
const QString kJumped = QStringLiteral("积压超过视图能保留的数据，已跳到最新数据");
const QString kTerminalSkipped = QStringLiteral("终端跟不上接收速度，已跳到最新数据");

QString bytesText(qint64 bytes)
{
    return QLocale(QLocale::Chinese, QLocale::China).toString(bytes) + QStringLiteral(" 字节未显示");
}

// The notice line, with the size of what is missing when the journal could tell it.
QString noticeText(const QString& what, qint64 bytes)
{
    return bytes > 0 ? what + QStringLiteral(" · ") + bytesText(bytes) : what;
}

// The log rows the channel's events after the cursor make at least, counted
// until there are more than `enough`: one an event in hex display, else one a
// line end (a line broken only by CR counts as well).
qint64 rowsAfter(const Journal& journal, const QString& channelId, qint64 cursor, qint64 enough, bool hex)
{
    qint64 events = 0;
    qint64 lf = 0;
    qint64 cr = 0;
    for (auto it = journal.events.rbegin(); it != journal.events.rend() && std::max(lf, cr) <= enough; ++it) {
        const QJsonObject& event = it->first;
        if (event.value(QLatin1String("seq")).toInteger() <= cursor)
            break;
        if (event.value(QLatin1String("channel_id")).toString() != channelId)
            continue;
        if (hex) {
            lf = ++events;
            continue;
        }
        const QString digits = event.value(QLatin1String("hex")).toString();
        for (qsizetype at = 0; at + 1 < digits.size(); at += 3) {
            if (digits.at(at) == u'0') {
                lf += digits.at(at + 1) == u'a' ? 1 : 0;
                cr += digits.at(at + 1) == u'd' ? 1 : 0;
            }
        }
    }
    return lf > 0 ? lf : cr;
}

} // namespace

ReceiveArea::ReceiveArea(QWidget* parent)
    : BackgroundSurface(parent)
{
    setObjectName(QStringLiteral("receiveBackgroundSurface"));
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    missing = new QLabel;
    missing->setObjectName(QStringLiteral("receiveMissing"));
    missing->setWordWrap(true);
    missing->hide();
    stack = new QStackedWidget;
    log = new LogView;
    terminal = new TerminalView;
    stack->addWidget(log);
    stack->addWidget(terminal);
    stack->setCurrentWidget(log);
    layout->addWidget(missing);
    layout->addWidget(stack, 1);
    m_terminalFeed = std::make_unique<TerminalFeed>(*terminal);
}

ReceiveArea::~ReceiveArea() = default;

bool ReceiveArea::terminalShown() const
{
    return stack->currentWidget() == terminal;
}

void ReceiveArea::noteMissing(qint64 bytes, bool inLog, bool inTerminal, const QString& reason)
{
    if (bytes <= 0)
        return;
    if (inLog) {
        logMissing += bytes;
        m_logReason = reason;
    }
    if (inTerminal) {
        terminalMissing += bytes;
        m_terminalReason = reason;
    }
}

void ReceiveArea::showMissing()
{
    const bool inTerminal = terminalShown();
    const qint64 bytes = inTerminal ? terminalMissing : logMissing;
    if (bytes <= 0) {
        missing->hide();
        return;
    }
    const Theme& theme = log->theme;
    const QString text = bytesText(bytes) + QStringLiteral(" · ") + (inTerminal ? m_terminalReason : m_logReason);
    if (missing->text() != text)
        missing->setText(text);
    const QString style = QStringLiteral("QLabel#receiveMissing { color: %1; background: %2; border-bottom: 1px solid %3;"
                                         " padding: 4px 14px; }")
                              .arg(theme.amber.name(), theme.side.name(), theme.line.name());
    if (missing->styleSheet() != style)
        missing->setStyleSheet(style);
    missing->setToolTip(QStringLiteral("这部分接收数据没有显示在当前视图中；仍在历史缓冲区中的部分可以导出连接日志取得。清空显示后此提示消失。"));
    missing->show();
}

void ReceiveArea::jumpToNewest(const Journal& journal, const QString& channelId, const QString& terminalEncoding)
{
    const qint64 cursor = journal.cursorForNewest(channelId, kKeptBytes);
    if (cursor <= readCursor)
        return;
    const qint64 bytes = journal.bytesThrough(channelId, cursor);
    const qint64 skipped = std::max<qint64>(0, bytes - readBytes);
    readCursor = cursor;
    readBytes = std::max(readBytes, bytes);
    // When what is kept fills the log by itself, what was skipped would have
    // left it anyway: the log has lost nothing to say. Its streams start afresh
    // either way, so that no line is joined across the skip.
    const bool logFull = rowsAfter(journal, channelId, cursor, LogView::kMaxLines, log->hexMode) >= LogView::kMaxLines;
    if (logFull) {
        log->restartStreams();
    } else {
        log->markGap(noticeText(kJumped, skipped));
        noteMissing(skipped, true, false, kJumped);
    }
    // What still waits for the terminal is older than the part skipped.
    const qsizetype stale = m_terminalFeed->clear();
    m_terminalFeed->resetHere(terminalEncoding);
    noteMissing(skipped + stale, false, true, kJumped);
}

int ReceiveArea::pull(const Journal& journal, const QString& channelId, bool ssh, const QString& terminalEncoding,
                      bool bounded)
{
    if (channelId != m_channelId) {
        // A page bound to another channel keeps its cursor; what it has seen
        // is counted anew for that channel.
        m_channelId = channelId;
        readBytes = journal.bytesThrough(channelId, readCursor);
    }
    if (journal.tally(channelId).bytes - readBytes > kMaxBacklogBytes)
        jumpToNewest(journal, channelId, terminalEncoding);

    const QJsonObject page = journal.read(readCursor, EventsPerTick, channelId);
    if (page.value(QLatin1String("gap")).toBool()) {
        // Events of this channel were dropped before the page read them.
        // Every decoding stream starts again after the notice, so no half
        // line or half character is joined across the gap.
        const qint64 dropped = journal.tally(channelId).droppedBytes;
        const qint64 lost = std::max<qint64>(0, dropped - readBytes);
        readBytes = std::max(readBytes, dropped);
        log->markGap(noticeText(kOverwritten, lost));
        m_terminalFeed->resetHere(terminalEncoding);
        noteMissing(lost, !ssh, true, kOverwritten);
    }

    const QJsonArray events = page.value(QLatin1String("events")).toArray();
    QElapsedTimer clock;
    clock.start();
    qint64 fed = 0;
    int taken = 0;
    for (const QJsonValue& value : events) {
        // The log takes what the tick's time allows; the rest waits for the
        // next tick, the cursor on the last event taken.
        if (bounded && !ssh && fed >= kFeedFloorBytes && clock.nsecsElapsed() >= kFeedBudgetNanos)
            break;
        const QJsonObject event = value.toObject();
        if (!ssh)
            log->feed(event);
        if (event.value(QLatin1String("stream_reset")).toBool())
            m_terminalFeed->resetHere(terminalEncoding);
        if (event.value(QLatin1String("direction")).toString() == QLatin1String("rx")
            && event.value(QLatin1String("message")).toString() != QLatin1String("file-transfer"))
            m_terminalFeed->add(QByteArray::fromHex(event.value(QLatin1String("hex")).toString().toLatin1()));
        const qint64 size = event.value(QLatin1String("size")).toInteger();
        readBytes += size;
        fed += size;
        readCursor = event.value(QLatin1String("seq")).toInteger();
        ++taken;
    }
    if (taken == events.size())
        readCursor = page.value(QLatin1String("next_cursor")).toInteger(0);

    const qsizetype skipped = m_terminalFeed->run(
        terminalShown() ? kTerminalBudgetNanos : kHiddenTerminalBudgetNanos, terminalEncoding);
    noteMissing(skipped, false, true, kTerminalSkipped);
    showMissing();
    return taken;
}

void ReceiveArea::restart()
{
    logMissing = 0;
    terminalMissing = 0;
    m_logReason.clear();
    m_terminalReason.clear();
    m_terminalFeed->clear();
    showMissing();
}

void ReceiveArea::clear(const Journal& journal, const QString& channelId, const QString& terminalEncoding)
{
    readCursor = journal.lastSeq;
    baseCursor = journal.lastSeq;
    m_channelId = channelId;
    readBytes = journal.tally(channelId).bytes;
    baseBytes = readBytes;
    restart();
    log->reset();
    terminal->reset(terminalEncoding);
}

void ReceiveArea::replay(const QString& terminalEncoding)
{
    readCursor = baseCursor;
    readBytes = baseBytes;
    restart();
    log->reset();
    terminal->reset(terminalEncoding);
}

void ReceiveArea::showTerminal(bool on)
{
    stack->setCurrentWidget(on ? static_cast<QWidget*>(terminal) : static_cast<QWidget*>(log));
    showMissing();
}

} // namespace vn
