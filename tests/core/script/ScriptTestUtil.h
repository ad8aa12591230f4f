#pragma once

#include "core/script/FrameScriptProgram.h"
#include "core/script/FrameScriptRuntime.h"
#include "core/script/ScriptError.h"

#include <QByteArray>
#include <QJsonArray>
#include <QJsonObject>
#include <QString>

namespace vn::test {

// main's head; a body given to script() starts on line 2.
inline QString script(const QString& body)
{
    return QStringLiteral("void main(const uint8_t data[], int length) {\n") + body + QStringLiteral("\n}\n");
}

// Frames of one call, or the display text of the error it raised.
struct Outcome {
    QJsonArray frames;
    QString error;
};

inline Outcome feedOnce(FrameScriptRuntime& runtime, const QByteArray& chunk)
{
    Outcome o;
    try {
        o.frames = runtime.feed(chunk);
    } catch (const ScriptError& e) {
        o.error = e.display();
    }
    return o;
}

inline Outcome runBody(const QString& body, const QByteArray& chunk = QByteArray())
{
    try {
        FrameScriptRuntime runtime(FrameScriptProgram::compile(script(body)));
        return feedOnce(runtime, chunk);
    } catch (const ScriptError& e) {
        return Outcome{QJsonArray(), QStringLiteral("compile: ") + e.display()};
    }
}

// The value of one expression as the script computes it: its number in
// shortest round-trip form, or the error text.
inline QString evaluate(const QString& declarations, const QString& expression,
                        const QByteArray& chunk = QByteArray())
{
    const Outcome o = runBody(declarations + QStringLiteral("\nemit(\"r\", ") + expression + QStringLiteral(");"), chunk);
    if (!o.error.isEmpty())
        return o.error;
    if (o.frames.size() != 1)
        return QStringLiteral("<%1 frames>").arg(o.frames.size());
    return QString::number(o.frames.at(0).toObject().value(QStringLiteral("r")).toDouble(), 'g', 17);
}

} // namespace vn::test
