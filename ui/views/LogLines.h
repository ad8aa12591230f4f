#pragma once

#include "ui/views/SearchFilter.h"

#include <QColor>
#include <QString>

#include <deque>
#include <vector>

namespace vn {

// How one run of a log line is drawn: the colours and weight it was written with.
struct LogFormat {
    QRgb foreground = 0;
    QRgb background = 0;
    bool hasBackground = false;
    bool bold = false;

    friend bool operator==(const LogFormat&, const LogFormat&) = default;
};

struct LogRun {
    qsizetype length = 0;
    LogFormat format;
};

// One row of the log: a line as a stream wrote it, or one of the rows a line
// longer than the row bound goes on in. Rows of one line are linked, since
// other streams' rows may stand between them.
struct LogLine {
    qint64 id = 0;
    QString text;               // the prefix and what follows it
    qsizetype prefixLength = 0;
    std::vector<LogRun> runs;   // cover the whole text, prefix first
    qint64 previous = -1;       // the row this one continues
    qint64 next = -1;           // the row that continues this one
    bool mark = false;          // a notice no filter hides

    QStringView content() const { return QStringView(text).sliced(prefixLength); }

private:
    friend class LogLines;
    // What the filter made of the row, valid for one filter and one length.
    mutable quint32 evaluatedFor = 0;
    mutable qsizetype evaluatedLength = -1;
    mutable bool alone = false;         // the row's own text matches
    mutable bool withPrevious = false;  // the row matches together with the row it continues
    bool changed = false;               // listed in the changes not yet taken
};

// The lines a log view holds, apart from any document: the newest
// `kMaxLines` rows with their formats, and which of them the line filter lets
// through. A view lays out a rendering of them only while it is seen, and the
// search reads them whether it is seen or not.
//
// Rows get ids that count up and are never used again, not even after a
// clear, so an id that is gone stays gone.
class LogLines {
public:
    static constexpr int kMaxLines = 4000;

    qint64 firstId() const { return m_first; }
    qint64 endId() const { return m_first + qint64(m_lines.size()); }
    int size() const { return int(m_lines.size()); }
    bool isEmpty() const { return m_lines.empty(); }
    bool contains(qint64 id) const { return id >= m_first && id < endId(); }
    const LogLine& at(int index) const { return m_lines[std::size_t(index)]; }
    const LogLine* find(qint64 id) const { return contains(id) ? &m_lines[std::size_t(id - m_first)] : nullptr; }

    // Opens a row at the end with its prefix; the oldest row goes beyond the
    // bound. `continues` is the id of the row this one goes on from, or -1.
    qint64 open(const QString& prefix, const LogFormat& prefixFormat, qint64 continues = -1, bool mark = false);
    // Appends text to a row that is still held.
    void append(qint64 id, QStringView text, const LogFormat& format);
    void clear();
    // Counts clears, so that a rendering knows when to start over.
    quint64 clears() const { return m_clears; }

    void setFilter(const SearchFilter& filter);
    const SearchFilter& filter() const { return m_filter; }
    bool filtering() const { return !m_filter.text.isEmpty(); }
    // Whether the filter lets the row through: its own text matches, or a
    // match lies across its boundary with the row before or after it (then
    // both are shown). Worked out when asked and kept until the row or the
    // filter changes.
    bool isShown(const LogLine& line) const;
    // A trial of another filter on every row, as `isShown` would run it; false
    // when the deadline passes first.
    bool tryFilter(const SearchFilter& filter, qint64 deadlineMillis) const;

    // Rows whose text or visibility may have changed since the last call,
    // oldest first (rows opened since are not listed: they are new).
    std::vector<qint64> takeChanges();
    bool hasChanges() const { return !m_changes.empty(); }

private:
    LogLine* edit(qint64 id) { return contains(id) ? &m_lines[std::size_t(id - m_first)] : nullptr; }
    void noteChange(LogLine& line);
    void evaluate(const LogLine& line) const;
    bool spans(const LogLine& line) const;

    std::deque<LogLine> m_lines;
    qint64 m_first = 0;
    quint64 m_clears = 0;
    SearchFilter m_filter;
    quint32 m_generation = 1;
    std::vector<qint64> m_changes;
};

} // namespace vn
