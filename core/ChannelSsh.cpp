#include "core/Channel.h"

#include "core/Engine.h"
#include "core/Fail.h"
#include "core/ssh/SshAuthSession.h"
#include "core/ssh/SshProcess.h"
#include "core/ssh/SshTarget.h"

#include <QTimer>

// The SSH transport of a channel: the OpenSSH client in a pseudo terminal,
// its questions answered through the askpass bridge.
namespace vn {

namespace {

// Where the output scanner stands between two bytes; it lives across chunks,
// so a sequence split over two reads is still skipped whole.
enum ScanState { Text, Escape, Csi, Osc, OscEscape, Charset };

// Runs the chunk through the scanner; true when a byte outside escape
// sequences was printable (the remote side has begun to talk).
bool scanVisible(int& state, const QByteArray& chunk)
{
    bool visible = false;
    for (const char c : chunk) {
        const auto byte = static_cast<unsigned char>(c);
        switch (state) {
        case Text:
            if (byte == 0x1B)
                state = Escape;
            else if (byte > 0x20 && byte != 0x7F)
                visible = true;
            break;
        case Escape:
            if (byte == '[')
                state = Csi;
            else if (byte == ']')
                state = Osc;
            else if (byte == '(' || byte == ')' || byte == '*' || byte == '+')
                state = Charset;
            else
                state = Text;
            break;
        case Csi:
            if (byte >= 0x40 && byte <= 0x7E)
                state = Text;
            break;
        case Osc:
            if (byte == 0x07)
                state = Text;
            else if (byte == 0x1B)
                state = OscEscape;
            break;
        case OscEscape:
            state = byte == '\\' ? Text : Osc;
            break;
        default: // Charset: its one designator byte
            state = Text;
            break;
        }
    }
    return visible;
}

} // namespace

void Channel::openSsh()
{
    sshScanState = Text;
    sshProcess = new SshProcess(this);
    sshAuth = new SshAuthSession(SshTarget::of(config), engine->sshCredentialDirectory, this);
    connect(sshAuth, &SshAuthSession::promptRequested, engine, &Engine::sshPromptRequested);
    connect(sshAuth, &SshAuthSession::cancelled, this,
            [this] { QTimer::singleShot(0, this, [this] { close(); }); });

    QStringList arguments{QStringLiteral("-tt"),
                          QStringLiteral("-o"), QStringLiteral("BatchMode=no"),
                          QStringLiteral("-o"), QStringLiteral("StrictHostKeyChecking=ask"),
                          QStringLiteral("-o"), QStringLiteral("ConnectTimeout=15"),
                          QStringLiteral("-o"), QStringLiteral("ServerAliveInterval=30"),
                          QStringLiteral("-o"), QStringLiteral("ServerAliveCountMax=3")};
    arguments += SshTarget::of(config).clientArguments();

    connect(sshProcess, &SshProcess::output, this, &Channel::sshOutput);
    connect(sshProcess, &SshProcess::finished, this, &Channel::sshFinished);
    status(QStringLiteral("connecting"));
    if (!sshProcess->start(engine->sshProgram, arguments, terminalSize, sshAuth->environment()))
        status(QStringLiteral("error"), sshProcess->errorString());
}

void Channel::releaseSsh()
{
    if (sshProcess) {
        if (sshAuth)
            sshAuth->stop();
        disconnect(sshProcess, nullptr, this, nullptr);
        sshProcess->stop();
        sshProcess->deleteLater();
    }
    if (sshAuth) {
        disconnect(sshAuth, nullptr, this, nullptr);
        sshAuth->stop();
        sshAuth->deleteLater();
    }
    sshProcess = nullptr;
    sshAuth = nullptr;
}

void Channel::resizeSsh()
{
    sshProcess->resize(terminalSize);
}

qint64 Channel::writeSsh(const QByteArray& data)
{
    return sshProcess->write(data);
}

void Channel::sshOutput(const QByteArray& chunk)
{
    const bool visible = scanVisible(sshScanState, chunk);
    if (state == QLatin1String("connecting") && visible)
        status(QStringLiteral("connected"));
    receive(chunk, QString());
}

void Channel::sshFinished(int code)
{
    if (code == 0 && state == QLatin1String("connected"))
        status(QStringLiteral("closed"), QStringLiteral("SSH 会话已结束"));
    else if (state != QLatin1String("error"))
        status(QStringLiteral("error"), QStringLiteral("SSH 连接结束，退出码 %1").arg(code));
}

} // namespace vn
