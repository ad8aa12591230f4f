#include "ui/views/LogLines.h"

#include <QDeadlineTimer>

namespace vn {

namespace {

// The text a row is matched with together with the row it continues: its own
// prefix, then the two rows' text as the device sent it, without the prefix
// that cut it in two.
QString joined(const LogLine& line, const LogLine& previous)
{
    QString window;
    window.reserve(line.prefixLength + previous.content().size() + line.content().size());
    window.append(QStringView(line.text).first(line.prefixLength));
    window.append(previous.content());
    window.append(line.content());
    return window;
}

} // namespace

qint64 LogLines::open(const QString& prefix, const LogFormat& prefixFormat, qint64 continues, bool mark)
{
    const qint64 id = endId();
    LogLine& line = m_lines.emplace_back();
    line.id = id;
    line.text = prefix;
    line.prefixLength = prefix.size();
    if (!prefix.isEmpty())
        line.runs.push_back(LogRun{prefix.size(), prefixFormat});
    line.mark = mark;
    if (LogLine* before = edit(continues)) {
        line.previous = continues;
        before->next = id;
    }
    if (m_lines.size() > std::size_t(kMaxLines)) {
        m_lines.pop_front();
        ++m_first;
        // Changes of rows that are gone need no rendering; without a reader
        // they would pile up.
        if (m_changes.size() > std::size_t(2 * kMaxLines))
            std::erase_if(m_changes, [this](qint64 each) { return each < m_first; });
    }
    return id;
}

void LogLines::append(qint64 id, QStringView text, const LogFormat& format)
{
    LogLine* line = edit(id);
    if (!line || text.isEmpty())
        return;
    line->text.append(text);
    if (!line->runs.empty() && line->runs.back().format == format)
        line->runs.back().length += text.size();
    else
        line->runs.push_back(LogRun{text.size(), format});
    noteChange(*line);
    // Whether the row before is shown may hang on a match across into this one.
    if (LogLine* before = edit(line->previous))
        noteChange(*before);
}

void LogLines::noteChange(LogLine& line)
{
    if (line.changed)
        return;
    line.changed = true;
    m_changes.push_back(line.id);
}

std::vector<qint64> LogLines::takeChanges()
{
    std::vector<qint64> taken;
    taken.reserve(m_changes.size());
    for (const qint64 id : m_changes) {
        if (LogLine* line = edit(id)) {
            line->changed = false;
            taken.push_back(id);
        }
    }
    m_changes.clear();
    return taken;
}

void LogLines::clear()
{
    m_first = endId();
    m_lines.clear();
    m_changes.clear();
    ++m_clears;
}

void LogLines::setFilter(const SearchFilter& filter)
{
    m_filter = filter;
    ++m_generation;
}

void LogLines::evaluate(const LogLine& line) const
{
    if (line.evaluatedFor == m_generation && line.evaluatedLength == line.text.size())
        return;
    line.evaluatedFor = m_generation;
    line.evaluatedLength = line.text.size();
    line.alone = m_filter.matches(line.text);
    line.withPrevious = false;
    if (line.alone)
        return;
    if (const LogLine* before = find(line.previous))
        line.withPrevious = m_filter.matches(joined(line, *before));
}

// A match lies across the boundary between this row and the one it continues:
// the two match together although neither does alone.
bool LogLines::spans(const LogLine& line) const
{
    const LogLine* before = find(line.previous);
    if (!before)
        return false;
    evaluate(line);
    if (line.alone || !line.withPrevious)
        return false;
    evaluate(*before);
    return !before->alone;
}

bool LogLines::isShown(const LogLine& line) const
{
    if (line.mark || !filtering())
        return true;
    evaluate(line);
    if (line.alone || spans(line))
        return true;
    const LogLine* after = find(line.next);
    return after && spans(*after);
}

bool LogLines::tryFilter(const SearchFilter& filter, qint64 deadlineMillis) const
{
    const QDeadlineTimer deadline(deadlineMillis);
    for (const LogLine& line : m_lines) {
        if (!filter.matches(line.text)) {
            if (const LogLine* before = find(line.previous))
                filter.matches(joined(line, *before));
        }
        if (deadline.hasExpired())
            return false;
    }
    return true;
}

} // namespace vn
