#pragma once

#include <QByteArray>
#include <QJsonDocument>
#include <QJsonValue>
#include <QString>

namespace vn {

// Everything the JSON assistant shows for one text: the verdict, the status line,
// the value written out and the generated cJSON functions.
struct JsonAssistance {
    bool ok = false;          // exactly one valid JSON value (also when code generation is refused)
    QString formatted;        // indented form; empty unless ok
    QString compact;          // compact form; empty unless ok
    QString parseCode;        // generated parse_message; empty unless generated
    QString buildCode;        // generated build_message; empty unless generated
    QString status;           // the one line shown to the user
    int errorPosition = -1;   // UTF-16 index of the faulty character; -1 when none
};

// Checks, formats and turns the text into cJSON code. Never throws.
JsonAssistance analyzeJson(const QString& text);

// The UTF-8 JSON text of one value. Scalars are written alone, without brackets,
// and read the same in both formats.
QByteArray jsonBytes(const QJsonValue& value, QJsonDocument::JsonFormat format);

} // namespace vn
