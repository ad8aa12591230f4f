#include "core/Channel.h"

#include "core/Engine.h"
#include "core/Fail.h"
#include "platform/SerialDevice.h"
#include "platform/SerialReadBack.h"

namespace vn {

namespace {

QSerialPort::Parity parityOf(const QString& letter)
{
    if (letter == QLatin1String("E"))
        return QSerialPort::EvenParity;
    if (letter == QLatin1String("O"))
        return QSerialPort::OddParity;
    if (letter == QLatin1String("M"))
        return QSerialPort::MarkParity;
    if (letter == QLatin1String("S"))
        return QSerialPort::SpaceParity;
    return QSerialPort::NoParity;
}

QSerialPort::StopBits stopBitsOf(double bits)
{
    if (bits == 2.0)
        return QSerialPort::TwoStop;
    if (bits == 1.5)
        return QSerialPort::OneAndHalfStop;
    return QSerialPort::OneStop;
}

QSerialPort::FlowControl flowOf(const QString& flow)
{
    if (flow == QLatin1String("rtscts"))
        return QSerialPort::HardwareControl;
    if (flow == QLatin1String("xonxoff"))
        return QSerialPort::SoftwareControl;
    return QSerialPort::NoFlowControl;
}

} // namespace

bool Channel::isLoopback() const
{
    return config.kind == QLatin1String("serial")
        && config.port.compare(QLatin1String("loop://"), Qt::CaseInsensitive) == 0;
}

void Channel::openSerial(bool wasReconnecting)
{
    if (isLoopback()) {
        appliedBaudrate = config.baudrate;
    } else {
        // Said in the user's words: the port driver would only report a bare
        // "No such file or directory".
        if (!platform::SerialDevice::exists(config.port))
            fail(QStringLiteral("串口 %1 不存在").arg(config.port));
        serialPort = new QSerialPort(this);
        // Linux paths are case-sensitive: open exactly what the user wrote.
        serialPort->setPortName(config.port);
        serialPort->setReadBufferSize(1048576);
        if (!serialPort->open(QIODevice::ReadWrite))
            fail(serialPort->errorString());
        applySerial(config);
        connect(serialPort, &QSerialPort::readyRead, this, [this] {
            if (serialPort)
                drain(serialPort, QString(), false);
        });
        connect(serialPort, &QSerialPort::errorOccurred, this, &Channel::serialError);
        connect(serialPort, &QSerialPort::bytesWritten, this, [this] {
            if (serialPort && serialPort->bytesToWrite() == 0)
                Q_EMIT outputDrained();
        });
    }
    ++serialGeneration;
    reconnectTimer.stop();
    for (auto& entry : sources)
        entry.second->resetStream();
    status(QStringLiteral("connected"), QString(), wasReconnecting);
}

void Channel::applySerial(const Config& next)
{
    if (transferActive())
        fail(QStringLiteral("文件传输期间不能修改串口参数"));
    next.validate();
    if (isLoopback()) {
        config = next;
        appliedBaudrate = next.baudrate;
        return;
    }
    if (!serialPort || !serialPort->isOpen())
        fail(QStringLiteral("串口未打开"));

    // A device that is going away may report its loss while the calls below
    // run; the error handler then lets the port go and the channel waits for
    // the device. The object itself lives on until the event loop deletes it.
    QSerialPort* const port = serialPort;
    auto refuse = [this](const QString& message) {
        if (serialPort) {
            releaseTransport();
            status(QStringLiteral("error"), message);
        }
        fail(message);
    };

    // ptys and some USB bridges have no modem lines: their ioctls answer
    // ENOTTY, and such a port opens without DTR/RTS; a real UART keeps the
    // strict rule. A pty also has no line for character size, parity, stop
    // bits or flow control and its driver refuses them; only the rate applies.
    const int fd = int(port->handle());
    const bool modemLines = platform::SerialDevice::hasModemLines(fd);
    const bool lineless = platform::SerialDevice::isPseudoTerminal(fd);
    const bool applied = port->setBaudRate(next.baudrate, QSerialPort::AllDirections)
        && (port->setDataBits(QSerialPort::DataBits(next.bytesize)) || lineless)
        && (port->setParity(parityOf(next.parity)) || lineless)
        && (port->setStopBits(stopBitsOf(next.stopbits)) || lineless)
        && (port->setFlowControl(flowOf(next.flow)) || lineless)
        && (!modemLines || port->setDataTerminalReady(next.dtr))
        && (!modemLines || next.flow == QLatin1String("rtscts") || port->setRequestToSend(next.rts));
    if (!applied)
        refuse(QStringLiteral("驱动拒绝串口参数：") + port->errorString());

    const platform::SerialLineSettings driver = platform::SerialReadBack::read(int(port->handle()));
    if (!driver.ok)
        refuse(QStringLiteral("无法从串口驱动回读串口参数"));
    if (driver.baudRate != next.baudrate)
        refuse(QStringLiteral("驱动返回的波特率 %1 与请求值 %2 不一致")
                   .arg(driver.baudRate)
                   .arg(next.baudrate));

    config = next;
    appliedBaudrate = driver.baudRate;
    if (!next.name.isEmpty())
        name = next.name;
    Q_EMIT engine->channelsChanged();
}

void Channel::serialError(QSerialPort::SerialPortError code)
{
    if (opening || userClosed)
        return;
    if (code != QSerialPort::DeviceNotFoundError && code != QSerialPort::WriteError
        && code != QSerialPort::ReadError && code != QSerialPort::ResourceError)
        return;
    if (!serialPort)
        return;   // a repeat from a port already let go: handled once, never again
    const QString reason = serialPort->errorString();
    releaseTransport();
    status(QStringLiteral("reconnecting"),
           QStringLiteral("串口 %1 已断开，等待设备恢复（%2）").arg(config.port, reason));
    reconnectTimer.start();
}

void Channel::deviceMissing()
{
    if (userClosed || config.kind != QLatin1String("serial") || isLoopback()
        || state != QLatin1String("connected"))
        return;
    releaseTransport();
    status(QStringLiteral("reconnecting"), QStringLiteral("串口 %1 已断开，等待设备恢复").arg(config.port));
    reconnectTimer.start();
}

void Channel::reconnectStep()
{
    if (userClosed)
        return;
    ++reconnectAttempts;
    open();
}

} // namespace vn
