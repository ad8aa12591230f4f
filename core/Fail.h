#pragma once

#include <QString>
#include <stdexcept>

namespace vn {

// The one way the system reports a user-facing error: the message is Chinese
// text meant for the person (or agent) who asked; callers show it as it is.
[[noreturn]] inline void fail(const QString& message)
{
    throw std::runtime_error(message.toUtf8().toStdString());
}

// The message of a caught error, decoded back from UTF-8.
inline QString errorText(const std::exception& error)
{
    return QString::fromUtf8(error.what());
}

} // namespace vn
