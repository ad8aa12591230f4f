#include "core/script/ScriptError.h"

namespace vn {

ScriptError::ScriptError(int line_, const QString& message_)
    : std::runtime_error(message_.toUtf8().toStdString()), line(line_), message(message_)
{
}

ScriptError::~ScriptError() = default;

QString ScriptError::display() const
{
    if (line > 0)
        return QStringLiteral("第 %1 行：%2").arg(line).arg(message);
    return message;
}

} // namespace vn
