#include "core/ssh/SshTarget.h"

#include "core/Fail.h"

#include <QStringList>

namespace vn {

namespace {

// Checked a UTF-16 unit at a time: a pattern would not match at all in a text
// that holds a lone surrogate (a "\ud800" escape from an agent or a stored
// file), and the line break after it would reach ssh's command line.
bool hasAny(const QString& text, bool (*bad)(char16_t))
{
    for (const QChar c : text) {
        if (bad(c.unicode()))
            return true;
    }
    return false;
}

bool lineBreak(char16_t c)
{
    return c == u'\r' || c == u'\n';
}

// ASCII white space and every C0 control, as the host field must hold none.
bool hostBreaker(char16_t c)
{
    return c <= 0x20;
}

} // namespace

void SshTarget::validate() const
{
    if (host.isEmpty() || host.startsWith(QLatin1Char('-')) || hasAny(host, hostBreaker)
        || user.startsWith(QLatin1Char('-')) || hasAny(user, lineBreak) || hasAny(identity, lineBreak)
        || port < 0 || port > 65535)
        fail(QStringLiteral("SSH 主机、用户名或端口无效"));
}

QStringList SshTarget::clientArguments() const
{
    QStringList arguments;
    if (!user.isEmpty())
        arguments << QStringLiteral("-l") << user;
    if (port > 0)
        arguments << QStringLiteral("-p") << QString::number(port);
    if (!identity.isEmpty())
        arguments << QStringLiteral("-i") << identity;
    arguments << host;
    return arguments;
}

} // namespace vn
