#pragma once

#include <QByteArray>
#include <QJsonObject>
#include <QString>

#include <deque>
#include <memory>

class QXmlStreamReader;

namespace vn {

class StreamDecoder;

// One bounded, cursor-readable list of records (structured documents or
// frame-script frames) of one peer.
struct RecordList {
    static constexpr int MaxRecords = 500;
    static constexpr qint64 MaxBytes = 2097152;

    std::deque<QJsonObject> records;
    std::deque<qint64> sizes;   // indented-JSON size of each kept record
    qint64 seq = 0;             // number of the last record created
    qint64 bytes = 0;           // sum of the kept records' sizes

    // Gives the record the next number, appends it and trims from the front.
    // `valueIndented` is the record's "value" already written as indented
    // JSON, when the caller has it: the record's size is then counted from
    // it instead of serializing the whole record again.
    void append(QJsonObject record, const QByteArray& valueIndented = QByteArray());

    // Bytes of the record as indented JSON; -1 when it holds a member this
    // count does not cover (the caller then serializes).
    static qint64 indentedSize(const QJsonObject& record, const QByteArray& valueIndented);
};

// The decoding state of one peer of a channel: wave lines and samples,
// structured records, frame-script results. Always held through shared_ptr,
// so readers may keep one while the channel evicts it.
struct Source {
    Source();
    ~Source();
    Source(const Source&) = delete;
    Source& operator=(const Source&) = delete;

    QByteArray waveLine;
    bool discardLine = false;
    std::deque<QJsonObject> samples;
    qint64 sampleIndex = 0;
    int rejectedLines = 0;

    QString pendingText;
    std::unique_ptr<StreamDecoder> decoder;
    // Unfinished control sequence at the end of the pending text, held back
    // until the next chunk shows where it ends.
    QString pendingEscape;
    // How far the structured search has already looked into pendingText, so a
    // long document arriving byte by byte is not rescanned from its start.
    struct ScanState {
        qsizetype position = 0;
        int depth = 0;
        bool inString = false;
        bool escaped = false;
    } jsonScan;
    // The XML search reads the candidate incrementally, for the same reason.
    std::unique_ptr<QXmlStreamReader> xmlReader;
    qsizetype xmlFed = 0;       // characters of pendingText given to xmlReader
    int xmlDepth = 0;
    void resetSearch();         // the candidate at the front of pendingText changed

    RecordList structured;
    RecordList script;

    // Aliases under the names readers use.
    std::deque<QJsonObject>& records = structured.records;
    qint64& recordSeq = structured.seq;
    qint64& recordBytes = structured.bytes;
    std::deque<QJsonObject>& scriptRecords = script.records;
    qint64& scriptSeq = script.seq;
    qint64& scriptBytes = script.bytes;

    // Forgets what an interrupted stream left half-read; records stay.
    void resetStream();
};

using SourcePtr = std::shared_ptr<Source>;

} // namespace vn
