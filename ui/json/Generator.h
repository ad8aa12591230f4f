#pragma once

#include <QJsonValue>
#include <QList>
#include <QSet>
#include <QString>

namespace vn {

// Whether a sample fits the generator: at most 512 values at depths 0 to 32 and
// no U+0000 in any key or string. Call with depth 0 and count 0.
bool canGenerate(const QJsonValue& value, int depth, int& count);

// "Object", "Array", "String", "Bool", "Number", or "Null" for anything else.
QString typeName(const QJsonValue& value);

// The text as a C string literal: UTF-8 bytes, octal escapes for everything outside
// printable ASCII, and never a trigraph, whatever the C standard mode.
QString cString(const QString& text);

// The cJSON creator call for a node holding the value.
QString creation(const QJsonValue& value);

// Writes the bodies of parse_message and build_message for one sample; lives only
// for one analysis.
class Generator {
public:
    Generator();

    static void line(QList<QString>& lines, int level, const QString& text);
    QString identifier(QString base);
    void node(const QJsonValue& value, const QString& name, int level);
    void child(const QJsonValue& value, const QString& base, const QString& access,
               const QString& attach, int level);

    QList<QString> parseLines;
    QList<QString> buildLines;
    int children = 0;
    QSet<QString> usedNames;
};

// The two complete C texts for a sample that passed canGenerate.
struct CJsonCode {
    QString parseCode;
    QString buildCode;
};
CJsonCode generateCJson(const QJsonValue& value);

} // namespace vn
