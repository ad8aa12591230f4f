#pragma once

#include "ui/views/LogLines.h"

#include <QTextCharFormat>

#include <deque>
#include <utility>
#include <vector>

class QElapsedTimer;
class QTextDocument;

namespace vn {

// Brings a text document in line with a log view's lines, a bounded piece at
// a time: rows the lines no longer hold leave the top, rows that grew or
// changed visibility are mended, new rows are appended. Rows that came and went
// between two steps are never laid out.
class LogRenderer {
public:
    LogRenderer(QTextDocument& document, LogLines& lines);

    // Works until the time is spent (a step always makes some progress);
    // true when the document shows the lines as they are.
    bool step(qint64 budgetNanos);
    bool upToDate() const;
    // Empties the document at once.
    void clear();
    // Every row shown is to be looked at again, as after a change of filter.
    void revisitAll() { m_revisitAll = true; }

    // Rows appended to the document so far, for those who measure.
    quint64 rowsLaidOut() const { return m_rowsLaidOut; }

private:
    struct Shown {
        qsizetype length = 0;   // characters of the row in the document
        bool visible = true;
    };
    void restartIfCleared();
    void dropGoneRows();
    std::pair<int, int> revisit(qint64 id);
    void revisitWithin(const QElapsedTimer& clock, qint64 budgetNanos);
    void appendRow(qint64 id);
    const QTextCharFormat& charFormat(const LogFormat& format);

    QTextDocument& m_document;
    LogLines& m_lines;
    // The document holds the rows [m_first, m_end) of the lines, one block each.
    qint64 m_first = 0;
    qint64 m_end = 0;
    std::deque<Shown> m_shown;
    std::vector<qint64> m_revisits;
    bool m_revisitAll = false;
    quint64 m_clears = 0;
    quint64 m_rowsLaidOut = 0;
    // What a unit of a row (see rowUnits) has cost to write and lay out.
    qint64 m_nanosPerUnit = 200;
    QTextCharFormat m_format;
    LogFormat m_formatOf;
    bool m_formatValid = false;
};

} // namespace vn
