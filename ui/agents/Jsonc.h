#pragma once

#include <QJsonObject>
#include <QList>
#include <QString>

namespace vn {

// Hand-edited agent settings are JSON with comments, single quotes, bare keys and
// trailing commas. These functions read such text and change one member in place
// so that every other character of the user's file survives.

// One token of scanned text; positions count UTF-16 code units from 0.
struct JsonToken {
    qint32 start = 0;
    qint32 end = 0;
    QString text;
};

// Punctuation, strings, words and single other characters; whitespace and
// comments are dropped.
QList<JsonToken> jsonTokens(const QString& text);

// The token rewritten as strict JSON text (single-quoted strings and bare keys
// become double-quoted strings).
QString normalizedToken(const QString& token, bool key);

// Reads JSONC into an object; fails with a user-facing message otherwise.
QJsonObject parseJsonc(const QString& text);

// The whole text with the member at `path` (inside the object that begins at
// `offset`) set to `value`, which is already-formatted JSON text.
QString setJsonMember(QString text, int offset, const QList<QString>& path, const QString& value);

} // namespace vn
