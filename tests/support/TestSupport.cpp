#include "tests/support/TestSupport.h"

#include <QDeadlineTimer>
#include <QFile>
#include <QFileInfo>
#include <QRandomGenerator>
#include <QTcpServer>
#include <QTest>
#include <QUdpSocket>

namespace vn::test {

QByteArray randomBytes(qsizetype size, quint32 seed)
{
    QRandomGenerator generator(seed);
    QByteArray out(size, Qt::Uninitialized);
    for (qsizetype i = 0; i < size; ++i)
        out[i] = char(generator.bounded(256));
    return out;
}

bool writeBytes(const QString& path, const QByteArray& data)
{
    QFile f(path);
    return f.open(QIODevice::WriteOnly) && f.write(data) == data.size();
}

QByteArray readBytes(const QString& path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("<missing>");
}


quint16 freeTcpPort()
{
    QTcpServer server;
    if (!server.listen(QHostAddress::LocalHost, 0))
        return 0;
    return server.serverPort();
}

quint16 freeUdpPort()
{
    QUdpSocket socket;
    if (!socket.bind(QHostAddress::LocalHost, 0))
        return 0;
    return socket.localPort();
}

SocatPair::SocatPair()
{
    m_a = m_dir.filePath(QStringLiteral("ttyA"));
    m_b = m_dir.filePath(QStringLiteral("ttyB"));
}

SocatPair::~SocatPair()
{
    stop();
}

bool SocatPair::start()
{
    stop();
    m_process = std::make_unique<QProcess>();
    m_process->setProgram(QStringLiteral("socat"));
    m_process->setArguments({QStringLiteral("pty,raw,echo=0,link=%1").arg(m_a),
                             QStringLiteral("pty,raw,echo=0,link=%1").arg(m_b)});
    m_process->setProcessChannelMode(QProcess::ForwardedErrorChannel);
    m_process->start();
    if (!m_process->waitForStarted(5000))
        return false;
    QDeadlineTimer deadline(10000);
    while (!deadline.hasExpired()) {
        if (QFileInfo::exists(m_a) && QFileInfo::exists(m_b))
            return true;
        if (m_process->state() != QProcess::Running)
            return false;
        QTest::qWait(5);
    }
    return false;
}

void SocatPair::stop()
{
    if (!m_process)
        return;
    if (m_process->state() != QProcess::NotRunning) {
        m_process->kill();
        m_process->waitForFinished(5000);
    }
    m_process.reset();
    // socat removes its links on a clean exit only; a killed one leaves them behind.
    QFile::remove(m_a);
    QFile::remove(m_b);
}

bool SocatPair::running() const
{
    return m_process && m_process->state() == QProcess::Running;
}

} // namespace vn::test
