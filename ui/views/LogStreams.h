#pragma once

#include "ui/kit/Theme.h"
#include "ui/views/AnsiState.h"

#include <QHash>
#include <QString>

#include <memory>

namespace vn {

class LogLines;
class StreamDecoder;

// The decoding state of one direction and peer of a log view.
struct LogStream {
    LogStream();
    ~LogStream();
    LogStream(const LogStream&) = delete;
    LogStream& operator=(const LogStream&) = delete;

    std::unique_ptr<StreamDecoder> decoder;
    AnsiState attributes;
    QString escape;
    bool osc = false;
    // The id of the open row in the view's lines (-1: none). An id rather
    // than a handle, so that a row the line bound removed is seen to be gone.
    qint64 line = -1;
    bool afterCr = false;
    // Characters written to the open row after its prefix.
    qsizetype length = 0;
    // When the stream was last used, for choosing which one to drop.
    quint64 lastUse = 0;
};

// The streams of a log view, and the interpreter that writes their decoded
// text into its lines: line ends, SGR colours, the sequences it consumes, and
// rows that a long line goes on in.
class LogStreams {
public:
    // The most characters one row shows after its prefix. A longer line goes
    // on in a continuation row of the same stream, so that laying out and
    // matching a row costs the same however long the device's line is.
    static constexpr qsizetype kMaxRowLength = 4096;
    // The most streams a view keeps. A UDP page may hear ever new senders and
    // a TCP server ever new clients; beyond this the stream least recently used
    // goes, preferably one whose line is no longer held.
    static constexpr int kMaxStreams = 256;

    // What the view's options make of the rows written now.
    struct Style {
        const Theme* theme = nullptr;
        bool timestamps = true;
    };
    // The event the text came from, for the prefix of the rows it opens.
    struct Origin {
        QString time;
        QString direction;
        QString peer;
    };

    explicit LogStreams(LogLines& lines) : m_lines(lines) {}

    // The stream of this key, made with a decoder of the encoding when it is new.
    LogStream& stream(const QString& key, const QString& encoding);
    void clear() { m_streams.clear(); }
    int count() const { return int(m_streams.size()); }
    bool contains(const QString& key) const { return m_streams.contains(key); }

    // Interprets decoded text in the stream's own state. `hex` text (two
    // digits and a blank a byte) is cut into rows only between bytes.
    void write(LogStream& stream, QStringView text, const Origin& origin, const Style& style, bool hex = false);
    // A row of its own that no filter hides, in the colour of a status line.
    void notice(const QString& message, const Origin& origin, const Style& style);

private:
    void evictOne();
    qint64 openRow(LogStream& stream, const Origin& origin, const Style& style, bool continuation);
    void writeRun(LogStream& stream, QStringView run, const Origin& origin, const Style& style, bool hex);
    QString prefix(const Origin& origin, const Style& style, bool continuation) const;
    void sgr(LogStream& stream, const Theme& theme) const;

    LogLines& m_lines;
    QHash<QString, std::shared_ptr<LogStream>> m_streams;
    quint64 m_clock = 0;
};

} // namespace vn
