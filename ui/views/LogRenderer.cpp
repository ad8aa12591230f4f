#include "ui/views/LogRenderer.h"

#include <QElapsedTimer>
#include <QFont>
#include <QTextBlock>
#include <QTextCursor>
#include <QTextDocument>

#include <algorithm>
#include <optional>

namespace vn {

namespace {

// The base direction the text engine would find for a row that begins with
// this text: that of its first strong character; none when it has none.
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

// What a row weighs in the layout's cost: its characters, and a share for
// the block itself.
qint64 rowUnits(const LogLine& line)
{
    return line.text.size() + 50;
}

} // namespace

LogRenderer::LogRenderer(QTextDocument& document, LogLines& lines)
    : m_document(document), m_lines(lines), m_first(lines.endId()), m_end(lines.endId()), m_clears(lines.clears())
{
}

bool LogRenderer::upToDate() const
{
    return m_clears == m_lines.clears() && m_first == m_lines.firstId() && m_end == m_lines.endId()
        && m_revisits.empty() && !m_revisitAll && !m_lines.hasChanges();
}

void LogRenderer::clear()
{
    m_document.clear();
    m_first = m_end = m_lines.endId();
    m_shown.clear();
    m_revisits.clear();
    m_revisitAll = false;
    m_clears = m_lines.clears();
    m_lines.takeChanges();
}

void LogRenderer::restartIfCleared()
{
    if (m_clears != m_lines.clears())
        clear();
}

void LogRenderer::dropGoneRows()
{
    const qint64 first = m_lines.firstId();
    if (m_first >= first)
        return;
    if (m_end <= first) {
        // Nothing the document shows is held any more; the rows that pushed
        // it out are appended afresh.
        m_document.clear();
        m_first = m_end = first;
        m_shown.clear();
        return;
    }
    const int gone = int(first - m_first);
    QTextCursor cursor(&m_document);
    cursor.setPosition(0);
    cursor.setPosition(m_document.findBlockByNumber(gone).position(), QTextCursor::KeepAnchor);
    cursor.removeSelectedText();
    m_shown.erase(m_shown.begin(), m_shown.begin() + gone);
    m_first = first;
}

const QTextCharFormat& LogRenderer::charFormat(const LogFormat& format)
{
    if (m_formatValid && m_formatOf == format)
        return m_format;
    m_format = QTextCharFormat();
    m_format.setForeground(QColor::fromRgba(format.foreground));
    if (format.hasBackground)
        m_format.setBackground(QColor::fromRgba(format.background));
    m_format.setFontWeight(format.bold ? QFont::Bold : QFont::Normal);
    m_formatOf = format;
    m_formatValid = true;
    return m_format;
}

// Writes what a row gained since it was laid out, as an edit of its own, and
// follows its visibility. A row whose visibility alone changed is only marked:
// its stretch of the document is returned, for the caller to have the layout
// redo neighbouring rows together.
std::pair<int, int> LogRenderer::revisit(qint64 id)
{
    const LogLine* line = m_lines.find(id);
    if (!line || id < m_first || id >= m_end)
        return {-1, -1};
    Shown& shown = m_shown[std::size_t(id - m_first)];
    QTextBlock block = m_document.findBlockByNumber(int(id - m_first));
    if (line->text.size() > shown.length) {
        QTextCursor cursor(block);
        cursor.movePosition(QTextCursor::EndOfBlock);
        cursor.beginEditBlock();
        qsizetype start = 0;
        for (const LogRun& run : line->runs) {
            const qsizetype end = start + run.length;
            if (end > shown.length) {
                const qsizetype from = std::max(start, shown.length);
                cursor.insertText(QStringView(line->text).sliced(from, end - from).toString(), charFormat(run.format));
            }
            start = end;
        }
        shown.length = line->text.size();
        const bool visible = m_lines.isShown(*line);
        if (visible != shown.visible) {
            block.setVisible(visible);
            shown.visible = visible;
        }
        cursor.endEditBlock();
        return {-1, -1};
    }
    const bool visible = m_lines.isShown(*line);
    if (visible == shown.visible)
        return {-1, -1};
    block.setVisible(visible);
    shown.visible = visible;
    return {block.position(), block.position() + block.length()};
}

void LogRenderer::revisitWithin(const QElapsedTimer& clock, qint64 budgetNanos)
{
    std::sort(m_revisits.begin(), m_revisits.end());
    m_revisits.erase(std::unique(m_revisits.begin(), m_revisits.end()), m_revisits.end());
    // Each mark makes the layout walk the whole document, so rows close to
    // each other are marked as one stretch; rows far apart are not, which
    // would lay out everything between them.
    constexpr qint64 kNear = 8;
    constexpr int kStretch = 64;
    int from = -1;
    int to = -1;
    int rows = 0;
    qint64 last = -1;
    const auto mark = [&]() {
        if (from >= 0)
            m_document.markContentsDirty(from, to - from);
        from = to = -1;
        rows = 0;
    };
    // Newest first: those are the rows on screen while the view follows.
    while (!m_revisits.empty() && clock.nsecsElapsed() < budgetNanos) {
        const qint64 id = m_revisits.back();
        m_revisits.pop_back();
        if (last >= 0 && (last - id > kNear || rows >= kStretch))
            mark();
        last = id;
        const auto [start, end] = revisit(id);
        if (start < 0)
            continue;
        from = from < 0 ? start : std::min(from, start);
        to = std::max(to, end);
        ++rows;
    }
    mark();
}

void LogRenderer::appendRow(qint64 id)
{
    const LogLine& line = *m_lines.find(id);
    QTextBlockFormat blockFormat;
    // The prefix opens the row, so it alone settles the row's direction;
    // stating it spares the layout a scan of every row's text.
    if (m_document.defaultTextOption().textDirection() == Qt::LayoutDirectionAuto) {
        if (const std::optional<Qt::LayoutDirection> direction
            = textDirectionOf(QStringView(line.text).first(line.prefixLength)))
            blockFormat.setLayoutDirection(*direction);
    }
    QTextCursor cursor(&m_document);
    cursor.movePosition(QTextCursor::End);
    if (m_end == m_first)
        cursor.setBlockFormat(blockFormat);
    else
        cursor.insertBlock(blockFormat, QTextCharFormat());
    qsizetype start = 0;
    for (const LogRun& run : line.runs) {
        cursor.insertText(QStringView(line.text).sliced(start, run.length).toString(), charFormat(run.format));
        start += run.length;
    }
    const bool visible = m_lines.isShown(line);
    if (!visible)
        cursor.block().setVisible(false);
    m_shown.push_back(Shown{line.text.size(), visible});
    ++m_end;
    ++m_rowsLaidOut;
}

bool LogRenderer::step(qint64 budgetNanos)
{
    QElapsedTimer clock;
    clock.start();
    restartIfCleared();
    dropGoneRows();

    for (const qint64 id : m_lines.takeChanges())
        m_revisits.push_back(id);
    if (m_revisitAll) {
        m_revisitAll = false;
        m_revisits.clear();
        for (qint64 id = m_first; id < m_end; ++id)
            m_revisits.push_back(id);
    }
    // Rows near the end are mended in the same edit as the new rows: the
    // layout redoes that stretch anyway, where a mend on its own would cost a
    // walk over the whole document. The rest are mended first, on their own.
    constexpr qint64 kTail = 16;
    std::vector<qint64> tail;
    std::erase_if(m_revisits, [&](qint64 id) {
        if (id < m_end - kTail)
            return false;
        tail.push_back(id);
        return true;
    });
    revisitWithin(clock, budgetNanos);

    // New rows go in as one edit, laid out once when it closes. The layout
    // costs several times the writing and grows with the rows' length, so as
    // many rows go in as the time left buys at the cost the last steps saw.
    const qint64 left = budgetNanos - clock.nsecsElapsed();
    const bool append = m_end < m_lines.endId() && left > 0;
    if (append || !tail.empty()) {
        QTextCursor edit(&m_document);
        edit.beginEditBlock();
        for (const qint64 id : tail) {
            const auto [start, end] = revisit(id);
            if (start >= 0)
                m_document.markContentsDirty(start, end - start);
        }
        qint64 units = 0;
        const qint64 started = clock.nsecsElapsed();
        while (append && m_end < m_lines.endId()) {
            units += rowUnits(*m_lines.find(m_end));
            appendRow(m_end);
            if (units * m_nanosPerUnit >= left || clock.nsecsElapsed() >= budgetNanos)
                break;
        }
        edit.endEditBlock();
        if (units > 0) {
            const qint64 spent = clock.nsecsElapsed() - started;
            m_nanosPerUnit = std::max<qint64>(1, (3 * m_nanosPerUnit + spent / units) / 4);
        }
    }
    return upToDate();
}

} // namespace vn
