#pragma once

#include <QJsonObject>
#include <QJsonValue>
#include <QString>

namespace vn {

// The activity record of one MCP tool call ("seq", "time", "tool", "client",
// "summary", "arguments", "status", "error", "duration_ms" and, on success,
// "result"), as the main window shows it. Every text in it is bounded, so a
// thousand records stay small whatever the agents send or read.
class ToolCallRecord {
public:
    static constexpr qsizetype MaxText = 8192;
    // Budget of the recorded arguments as compact JSON text.
    static constexpr qsizetype MaxArguments = 16384;

    // The first 8192 UTF-16 code units and a marker, or the text unchanged.
    static QString cut(const QString& text);

    // The short human-readable line of a call.
    static QString summary(const QString& tool, const QJsonObject& arguments);

    // A copy of the arguments with the bodies left out ("payload", "code",
    // "sample_chunks") and every long member cut.
    static QJsonObject recordedArguments(const QJsonObject& arguments);

    // The record of one call; `resultText` is the result's text form (ignored
    // when the call failed), passed in so a large result is written out once.
    static QJsonObject make(qint64 seq, const QString& tool, const QString& client,
                            const QJsonObject& arguments, const QString& error,
                            qint64 durationMs, const QString& resultText);
};

} // namespace vn
