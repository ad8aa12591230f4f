#include "core/Config.h"

#include "core/ssh/SshTarget.h"

#include <QJsonValue>

#include <cmath>
#include <limits>

namespace vn {

namespace {

QString readString(const QJsonObject& object, const char* key, const QString& fallback)
{
    const QJsonValue value = object.value(QLatin1String(key));
    return value.isString() ? value.toString() : fallback;
}

// A JSON number counts only when it is a whole number in the 32-bit range.
int readInt(const QJsonObject& object, const char* key, int fallback)
{
    const QJsonValue value = object.value(QLatin1String(key));
    if (!value.isDouble())
        return fallback;
    const double number = value.toDouble();
    if (!std::isfinite(number) || std::floor(number) != number
        || number < double(std::numeric_limits<int>::min())
        || number > double(std::numeric_limits<int>::max()))
        return fallback;
    return int(number);
}

// The Windows device prefix may still arrive from stored settings; it never
// takes part in a port's identity.
QString withoutDevicePrefix(QString port)
{
    return port.remove(QStringLiteral("\\\\.\\"));
}

} // namespace

Config Config::fromJson(const QJsonObject& object)
{
    Config c;
    c.kind = readString(object, "kind", c.kind);
    c.name = readString(object, "name", QString());
    c.port = readString(object, "port", c.port);
    c.baudrate = readInt(object, "baudrate", c.baudrate);
    c.bytesize = readInt(object, "bytesize", c.bytesize);
    c.parity = readString(object, "parity", c.parity);
    const QJsonValue stop = object.value(QLatin1String("stopbits"));
    c.stopbits = stop.isDouble() ? stop.toDouble() : 1.0;
    c.flow = readString(object, "flow", c.flow);
    const QJsonValue dtr = object.value(QLatin1String("dtr"));
    c.dtr = dtr.isBool() && dtr.toBool();
    const QJsonValue rts = object.value(QLatin1String("rts"));
    c.rts = rts.isBool() && rts.toBool();
    c.host = readString(object, "host", c.host);
    c.network_port = readInt(object, "network_port", c.network_port);
    c.bind_host = readString(object, "bind_host", c.bind_host);
    c.bind_port = readInt(object, "bind_port", c.bind_port);
    c.ssh_host = readString(object, "ssh_host", QString());
    c.ssh_user = readString(object, "ssh_user", QString());
    c.ssh_port = readInt(object, "ssh_port", 0);
    c.ssh_identity = readString(object, "ssh_identity", QString());
    return c;
}

QJsonObject Config::json() const
{
    QJsonObject o;
    o.insert(QLatin1String("kind"), kind);
    o.insert(QLatin1String("name"), name);
    o.insert(QLatin1String("port"), port);
    o.insert(QLatin1String("baudrate"), baudrate);
    o.insert(QLatin1String("bytesize"), bytesize);
    o.insert(QLatin1String("parity"), parity);
    o.insert(QLatin1String("stopbits"), stopbits);
    o.insert(QLatin1String("flow"), flow);
    o.insert(QLatin1String("dtr"), dtr);
    o.insert(QLatin1String("rts"), rts);
    o.insert(QLatin1String("host"), host);
    o.insert(QLatin1String("network_port"), network_port);
    o.insert(QLatin1String("bind_host"), bind_host);
    o.insert(QLatin1String("bind_port"), bind_port);
    o.insert(QLatin1String("ssh_host"), ssh_host);
    o.insert(QLatin1String("ssh_user"), ssh_user);
    o.insert(QLatin1String("ssh_port"), ssh_port);
    o.insert(QLatin1String("ssh_identity"), ssh_identity);
    return o;
}

QString Config::key() const
{
    if (kind == QLatin1String("serial"))
        return QStringLiteral("serial:") + withoutDevicePrefix(port.toLower());
    if (kind == QLatin1String("ssh"))
        return QStringLiteral("ssh:%1:%2:%3:%4")
            .arg(ssh_host.toLower(), ssh_user, QString::number(ssh_port), ssh_identity);
    return QStringLiteral("%1:%2:%3:%4:%5")
        .arg(kind, host, QString::number(network_port), bind_host, QString::number(bind_port));
}

void Config::validate() const
{
    static const QStringList kinds{QStringLiteral("serial"), QStringLiteral("tcp-client"),
                                   QStringLiteral("tcp-server"), QStringLiteral("udp"),
                                   QStringLiteral("ssh"), QStringLiteral("demo")};
    if (!kinds.contains(kind))
        fail(QStringLiteral("不支持的连接协议"));
    const bool serial = kind == QLatin1String("serial");
    if (serial && (port.trimmed().isEmpty() || port.compare(QLatin1String("NULL"), Qt::CaseInsensitive) == 0))
        fail(QStringLiteral("请先选择串口，NULL 表示尚未选择"));

    static const QStringList parities{QStringLiteral("N"), QStringLiteral("E"), QStringLiteral("O"),
                                      QStringLiteral("M"), QStringLiteral("S")};
    static const QStringList flows{QStringLiteral("none"), QStringLiteral("rtscts"),
                                   QStringLiteral("xonxoff")};
    const bool lineOk = baudrate >= 1 && baudrate <= 12000000 && bytesize >= 5 && bytesize <= 8
        && parities.contains(parity) && (stopbits == 1.0 || stopbits == 1.5 || stopbits == 2.0)
        && flows.contains(flow);
    if (!lineOk)
        fail(QStringLiteral("串口参数无效，请检查波特率、数据位、校验、停止位和流控"));

    if (bind_port < 0 || bind_port > 65535 || network_port < 1 || network_port > 65535)
        fail(QStringLiteral("网络端口无效"));

    if (kind == QLatin1String("ssh"))
        SshTarget::of(*this).validate();
}

bool Config::isWaveformDemo() const
{
    return kind == QLatin1String("demo") && host == QLatin1String("waveform-demo");
}

bool Config::isStructuredDemo() const
{
    return kind == QLatin1String("demo") && host == QLatin1String("structured-demo");
}

bool Config::isBuiltinDemo() const
{
    return isWaveformDemo() || isStructuredDemo();
}

Config Config::waveformDemo()
{
    Config c;
    c.kind = QStringLiteral("demo");
    c.name = QStringLiteral("Demo · 演示波形");
    c.host = QStringLiteral("waveform-demo");
    return c;
}

Config Config::structuredDemo()
{
    Config c;
    c.kind = QStringLiteral("demo");
    c.name = QStringLiteral("Demo · JSON/XML");
    c.host = QStringLiteral("structured-demo");
    return c;
}

} // namespace vn
