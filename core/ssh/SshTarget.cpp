#include "core/ssh/SshTarget.h"

#include "core/Fail.h"

#include <QRegularExpression>
#include <QStringList>

namespace vn {

void SshTarget::validate() const
{
    static const QRegularExpression badHost(QStringLiteral("[\\s\\x00-\\x1f]"));
    static const QRegularExpression lineBreak(QStringLiteral("[\\r\\n]"));
    if (host.isEmpty() || host.startsWith(QLatin1Char('-')) || host.contains(badHost)
        || user.startsWith(QLatin1Char('-')) || user.contains(lineBreak)
        || identity.contains(lineBreak) || port < 0 || port > 65535)
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
