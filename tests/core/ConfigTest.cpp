#include "core/Config.h"

#include <QJsonDocument>
#include <QTest>

using vn::Config;

namespace {

Config serialOn(const QString& port)
{
    Config c;
    c.port = port;
    return c;
}

QString validationError(const Config& c)
{
    try {
        c.validate();
    } catch (const std::exception& e) {
        return vn::errorText(e);
    }
    return QString();
}

} // namespace

class ConfigTest : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void defaultsRoundTrip()
    {
        const Config c;
        QCOMPARE(c.json().size(), 18);
        QCOMPARE(Config::fromJson(c.json()), c);
        QCOMPARE(Config::fromJson(QJsonObject()), c);
        Config odd;
        odd.kind = QStringLiteral("ssh");
        odd.stopbits = 1.5;
        odd.dtr = true;
        odd.ssh_port = 2222;
        odd.name = QStringLiteral("实验箱");
        QCOMPARE(Config::fromJson(odd.json()), odd);
    }

    void fromJsonWrongTypes()
    {
        const QJsonObject o = QJsonDocument::fromJson(
            R"({"baudrate":"9600","dtr":1,"name":5,"bytesize":7.5,"network_port":4294967296,
                "ssh_port":22,"stopbits":2,"kind":null,"bind_port":-1})").object();
        const Config c = Config::fromJson(o);
        QCOMPARE(c.baudrate, 115200);
        QCOMPARE(c.dtr, false);
        QCOMPARE(c.name, QString());
        QCOMPARE(c.bytesize, 8);
        QCOMPARE(c.network_port, 9000);
        QCOMPARE(c.ssh_port, 22);
        QCOMPARE(c.stopbits, 2.0);
        QCOMPARE(c.kind, QStringLiteral("serial"));
        QCOMPARE(c.bind_port, -1);
    }

    void validate_data()
    {
        QTest::addColumn<QJsonObject>("fields");
        QTest::addColumn<QString>("message");
        const QString kindMsg = QStringLiteral("不支持的连接协议");
        const QString portMsg = QStringLiteral("请先选择串口，NULL 表示尚未选择");
        const QString lineMsg = QStringLiteral("串口参数无效，请检查波特率、数据位、校验、停止位和流控");
        const QString netMsg = QStringLiteral("网络端口无效");
        const QString sshMsg = QStringLiteral("SSH 主机、用户名或端口无效");
        auto j = [](const char* text) { return QJsonDocument::fromJson(text).object(); };
        QTest::newRow("empty object") << QJsonObject() << portMsg;
        QTest::newRow("capital kind") << j(R"({"kind":"Serial","port":"COM3"})") << kindMsg;
        QTest::newRow("unknown kind") << j(R"({"kind":"http"})") << kindMsg;
        QTest::newRow("null mixed case") << j(R"({"port":"nUlL"})") << portMsg;
        QTest::newRow("blank port") << j(R"({"port":"   "})") << portMsg;
        QTest::newRow("padded null passes") << j(R"({"port":" NULL "})") << QString();
        QTest::newRow("serial ok") << j(R"({"port":"/dev/ttyUSB0"})") << QString();
        QTest::newRow("max baud") << j(R"({"port":"x","baudrate":12000000})") << QString();
        QTest::newRow("baud too high") << j(R"({"port":"x","baudrate":12000001})") << lineMsg;
        QTest::newRow("baud zero") << j(R"({"port":"x","baudrate":0})") << lineMsg;
        QTest::newRow("stop 1.25") << j(R"({"port":"x","stopbits":1.25})") << lineMsg;
        QTest::newRow("stop 1.5") << j(R"({"port":"x","stopbits":1.5})") << QString();
        QTest::newRow("parity lower") << j(R"({"port":"x","parity":"e"})") << lineMsg;
        QTest::newRow("flow unknown") << j(R"({"port":"x","flow":"dsrdtr"})") << lineMsg;
        QTest::newRow("bytesize 4") << j(R"({"port":"x","bytesize":4})") << lineMsg;
        QTest::newRow("tcp bytesize 9") << j(R"({"kind":"tcp-client","bytesize":9})") << lineMsg;
        QTest::newRow("udp remote 0") << j(R"({"kind":"udp","network_port":0})") << netMsg;
        QTest::newRow("bind 0 passes") << j(R"({"kind":"udp","bind_port":0})") << QString();
        QTest::newRow("bind 65536") << j(R"({"kind":"tcp-server","bind_port":65536})") << netMsg;
        QTest::newRow("ssh ok") << j(R"({"kind":"ssh","ssh_host":"lab","ssh_port":0})") << QString();
        QTest::newRow("ssh empty host") << j(R"({"kind":"ssh"})") << sshMsg;
        QTest::newRow("ssh dash host") << j(R"({"kind":"ssh","ssh_host":"-oProxy"})") << sshMsg;
        QTest::newRow("ssh blank host") << j(R"({"kind":"ssh","ssh_host":"a b"})") << sshMsg;
        QTest::newRow("ssh tab host") << j(R"({"kind":"ssh","ssh_host":"a\tb"})") << sshMsg;
        QTest::newRow("ssh user lf") << j(R"({"kind":"ssh","ssh_host":"a","ssh_user":"x\ny"})") << sshMsg;
        QTest::newRow("ssh dash user") << j(R"({"kind":"ssh","ssh_host":"a","ssh_user":"-l"})") << sshMsg;
        QTest::newRow("ssh identity cr") << j(R"({"kind":"ssh","ssh_host":"a","ssh_identity":"k\r"})") << sshMsg;
        QTest::newRow("ssh port 65536") << j(R"({"kind":"ssh","ssh_host":"a","ssh_port":65536})") << sshMsg;
        // A lone surrogate must not hide the line break after it from the check.
        const QString lone = QString(QChar(0xD800));
        QTest::newRow("ssh host lone surrogate lf")
            << QJsonObject{{"kind", "ssh"}, {"ssh_host", "a" + lone + "\nb"}} << sshMsg;
        QTest::newRow("ssh user lone surrogate lf")
            << QJsonObject{{"kind", "ssh"}, {"ssh_host", "a"}, {"ssh_user", lone + "\n-oProxyCommand=x"}} << sshMsg;
        QTest::newRow("ssh identity lone surrogate cr")
            << QJsonObject{{"kind", "ssh"}, {"ssh_host", "a"}, {"ssh_identity", "k" + lone + "\r"}} << sshMsg;
        QTest::newRow("other demo passes") << j(R"({"kind":"demo","host":"mine"})") << QString();
    }

    void validate()
    {
        QFETCH(QJsonObject, fields);
        QFETCH(QString, message);
        QCOMPARE(validationError(Config::fromJson(fields)), message);
    }

    void keys()
    {
        QCOMPARE(serialOn(QStringLiteral("COM3")).key(), QStringLiteral("serial:com3"));
        QCOMPARE(serialOn(QStringLiteral("\\\\.\\com3")).key(), serialOn(QStringLiteral("COM3")).key());
        QCOMPARE(serialOn(QStringLiteral("loop://")).key(), QStringLiteral("serial:loop://"));
        Config a = serialOn(QStringLiteral("COM3"));
        a.baudrate = 9600;
        QCOMPARE(a.key(), QStringLiteral("serial:com3"));

        Config ssh;
        ssh.kind = QStringLiteral("ssh");
        ssh.ssh_host = QStringLiteral("Lab-Box");
        ssh.ssh_user = QStringLiteral("pi");
        QCOMPARE(ssh.key(), QStringLiteral("ssh:lab-box:pi:0:"));
        Config ssh2 = ssh;
        ssh2.ssh_user = QStringLiteral("Pi");
        QVERIFY(ssh.key() != ssh2.key());

        Config tcp;
        tcp.kind = QStringLiteral("tcp-client");
        QCOMPARE(tcp.key(), QStringLiteral("tcp-client:127.0.0.1:9000:127.0.0.1:9001"));
        QCOMPARE(Config::waveformDemo().key(), QStringLiteral("demo:waveform-demo:9000:127.0.0.1:9001"));
    }

    void demos()
    {
        QVERIFY(Config::waveformDemo().isWaveformDemo());
        QVERIFY(!Config::waveformDemo().isStructuredDemo());
        QVERIFY(Config::structuredDemo().isStructuredDemo());
        QCOMPARE(Config::waveformDemo().name, QStringLiteral("Demo · 演示波形"));
        QCOMPARE(Config::structuredDemo().name, QStringLiteral("Demo · JSON/XML"));
        Config other;
        other.kind = QStringLiteral("demo");
        other.host = QStringLiteral("Waveform-Demo");
        QVERIFY(!other.isBuiltinDemo());
    }
};

QTEST_GUILESS_MAIN(ConfigTest)
#include "ConfigTest.moc"
