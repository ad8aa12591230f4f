#include "core/Engine.h"

#include "core/Channel.h"
#include "core/Fail.h"
#include "core/TextEncoding.h"
#include "platform/SerialDevice.h"

#include <QHash>
#include <QRegularExpression>
#include <QSerialPortInfo>
#include <QSet>
#include <QTextCodec>

#if __has_include("core/ssh/SshCredentialCache.h")
#include "core/ssh/SshCredentialCache.h"
#define VN_HAVE_SSH_CREDENTIAL_CACHE 1
#endif

namespace vn {

QString stateText(const QString& state)
{
    static const QHash<QString, QString> labels{
        {QStringLiteral("connected"), QStringLiteral("已连接")},
        {QStringLiteral("connecting"), QStringLiteral("连接中")},
        {QStringLiteral("listening"), QStringLiteral("监听中")},
        {QStringLiteral("closed"), QStringLiteral("未连接")},
        {QStringLiteral("error"), QStringLiteral("连接失败")},
        {QStringLiteral("reconnecting"), QStringLiteral("等待设备恢复")},
    };
    return labels.value(state, state);
}

Engine::Engine(QObject* parent)
    : QObject(parent)
{
    journal.sessionId = Journal::newSessionId();
#ifdef VN_HAVE_SSH_CREDENTIAL_CACHE
    sshCredentialDirectory = SshCredentialCache::directory();
#endif
}

// Members (registry, journal) go before the QObject base deletes the
// channels, so channel destructors only release their transports.
Engine::~Engine() = default;

Channel* Engine::open(const Config& config)
{
    config.validate();
    if (config.kind == QLatin1String("serial") || config.isBuiltinDemo()) {
        const QString key = config.key();
        for (const auto& [channelId, channel] : channels) {
            if (channel->config.key() != key)
                continue;
            if (channel->state == QLatin1String("connected")) {
                if (config.kind == QLatin1String("serial"))
                    channel->applySerial(config);
                return channel;
            }
            channel->close();
            channel->config = config;
            channel->open();
            return channel;
        }
    }
    if (int(channels.size()) >= MaxChannels)
        fail(QStringLiteral("最多保留 64 个连接，请关闭不需要的标签"));
    auto* channel = new Channel(this, config);
    channels.emplace(channel->id, channel);
    channel->open();
    Q_EMIT channelsChanged();
    return channel;
}

Channel* Engine::get(const QString& id) const
{
    const auto it = channels.find(id);
    if (it == channels.end())
        fail(QStringLiteral("连接不存在，请选择连接或调用 list_connections"));
    return it->second;
}

void Engine::remove(const QString& id)
{
    Channel* channel = get(id);
    channel->close();
    channels.erase(id);
    channel->deleteLater();
    Q_EMIT channelsChanged();
}

QJsonArray Engine::list() const
{
    QJsonArray out;
    for (const auto& entry : channels)
        out.append(entry.second->describe());
    return out;
}

QJsonArray Engine::ports()
{
    QJsonArray out;
    const auto infos = QSerialPortInfo::availablePorts();
    for (const QSerialPortInfo& info : infos) {
        QJsonObject port;
        port.insert(QLatin1String("port"), info.portName());
        port.insert(QLatin1String("description"), info.description());
        port.insert(QLatin1String("hwid"), info.serialNumber());
        port.insert(QLatin1String("manufacturer"), info.manufacturer());
        port.insert(QLatin1String("serial_number"), info.serialNumber());
        port.insert(QLatin1String("system_location"), info.systemLocation());
        port.insert(QLatin1String("vendor_id"),
                    info.hasVendorIdentifier() ? QJsonValue(int(info.vendorIdentifier())) : QJsonValue());
        port.insert(QLatin1String("product_id"),
                    info.hasProductIdentifier() ? QJsonValue(int(info.productIdentifier())) : QJsonValue());
        port.insert(QLatin1String("usb_serial_jtag"),
                    info.hasVendorIdentifier() && info.hasProductIdentifier()
                        && info.vendorIdentifier() == 0x303A && info.productIdentifier() == 0x1001);
        out.append(port);
    }
    return out;
}

void Engine::checkSerialDevices(const QJsonArray& ports)
{
    QSet<QString> names;
    QSet<QString> locations;
    for (const QJsonValue& value : ports) {
        const QJsonObject port = value.toObject();
        names.insert(port.value(QLatin1String("port")).toString().toLower());
        const QString location = port.value(QLatin1String("system_location")).toString();
        if (!location.isEmpty())
            locations.insert(location);
    }
    QList<QPointer<Channel>> snapshot;
    for (const auto& entry : channels)
        snapshot.append(entry.second);
    for (const QPointer<Channel>& channel : snapshot) {
        if (!channel)
            continue;
        const QString port = channel->config.port;
        const QString name = QString(port).toLower().remove(QStringLiteral("\\\\.\\"));
        if (names.contains(name) || locations.contains(port))
            continue;
        // The system's list leaves out ptys and symlinked paths: such a port is
        // still there while its device node is a character device.
        if (channel->config.kind == QLatin1String("serial") && !channel->isLoopback()
            && platform::SerialDevice::exists(port))
            continue;
        channel->deviceMissing();
    }
}

Channel* Engine::waveformDemo()
{
    return open(Config::waveformDemo());
}

Channel* Engine::structuredDemo()
{
    return open(Config::structuredDemo());
}

QByteArray Engine::encode(const QString& text, bool hex, const QString& encoding,
                          const QString& lineEnding)
{
    QByteArray out;
    if (hex) {
        static const QRegularExpression blanks(QStringLiteral("\\s+"));
        static const QRegularExpression nonHex(QStringLiteral("[^0-9a-fA-F]"));
        QString digits = text;
        digits.remove(blanks);
        if (digits.size() % 2 != 0 || digits.contains(nonHex))
            fail(QStringLiteral("HEX 需要完整的十六进制字节，例如 01 03 00 00"));
        out = QByteArray::fromHex(digits.toLatin1());
    } else {
        QTextCodec* codec = QTextCodec::codecForName(encoding.toLatin1());
        if (!codec)
            fail(QStringLiteral("不支持的文本编码"));
        out = encodeWhole(*codec, text);
    }
    if (lineEnding == QLatin1String("lf"))
        out.append('\n');
    else if (lineEnding == QLatin1String("cr"))
        out.append('\r');
    else if (lineEnding == QLatin1String("crlf"))
        out.append("\r\n");
    else if (lineEnding != QLatin1String("none"))
        fail(QStringLiteral("换行参数无效"));
    if (out.size() > 1048576)
        fail(QStringLiteral("单次发送不能超过 1 MiB"));
    return out;
}

} // namespace vn
