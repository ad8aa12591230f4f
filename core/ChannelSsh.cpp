#include "core/Channel.h"

#include "core/Engine.h"
#include "core/Fail.h"

// The SSH transport of a channel: the OpenSSH client in a pseudo terminal,
// its questions answered through the askpass bridge.
namespace vn {

void Channel::openSsh()
{
    fail(QStringLiteral("SSH 连接暂不可用：SSH 传输尚未接入"));
}

void Channel::releaseSsh()
{
}

void Channel::resizeSsh()
{
}

qint64 Channel::writeSsh(const QByteArray& data)
{
    Q_UNUSED(data);
    return -1;
}

void Channel::sshOutput(const QByteArray& chunk)
{
    receive(chunk, QString());
}

void Channel::sshFinished(int code)
{
    Q_UNUSED(code);
}

} // namespace vn
