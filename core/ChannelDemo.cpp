#include "core/Channel.h"

#include <QDateTime>
#include <QJsonDocument>
#include <QJsonObject>

#include <cmath>

namespace vn {

void Channel::openDemo()
{
    if (config.isStructuredDemo())
        configureParser(QStringLiteral("auto"), QStringLiteral("utf-8"));
    tickTimer.start();
    status(QStringLiteral("connected"));
    if (!sources.empty())
        return;
    // A demo without data starts with some history to look at.
    if (config.isStructuredDemo()) {
        for (int i = 0; i < 3; ++i)
            generateStructuredDemo();
    } else if (config.isWaveformDemo()) {
        for (int i = 0; i < 500; ++i)
            generateWaveDemo();
    }
}

void Channel::demoTick()
{
    if (config.isWaveformDemo()) {
        generateWaveDemo();
    } else if (config.isStructuredDemo()) {
        generateStructuredDemo();
    } else {
        const double t = double(QDateTime::currentMSecsSinceEpoch()) / 1000.0;
        const QString line = QStringLiteral("@wave temperature=%1,voltage=%2,current=%3\r\n")
                                 .arg(25 + 3 * std::sin(t), 0, 'f', 3)
                                 .arg(3.3 + 0.2 * std::cos(0.7 * t), 0, 'f', 3)
                                 .arg(0.4 + 0.1 * std::sin(1.8 * t), 0, 'f', 3);
        receive(line.toUtf8(), QString());
    }
}

void Channel::generateWaveDemo()
{
    constexpr double pi = 3.141592653589793;
    const qint64 n = demoCounter++;
    const double t = 0.02 * double(n);
    const double a = pi * t;
    const double sine = std::sin(a);
    const double triangle = std::asin(std::sin(0.7 * a)) * 0.6366197723675814;
    const double square = std::sin(1.3 * a) >= 0 ? 0.8 : -0.8;
    const double s = 0.35 * t;
    const double sawtooth = 2 * (s - std::floor(s)) - 1;
    const QString line = QStringLiteral("@wave sine=%1,triangle=%2,square=%3,sawtooth=%4\r\n")
                             .arg(sine, 0, 'f', 6)
                             .arg(triangle, 0, 'f', 6)
                             .arg(square, 0, 'f', 6)
                             .arg(sawtooth, 0, 'f', 6);
    receive(line.toUtf8(), QString());
}

void Channel::generateStructuredDemo()
{
    const qint64 n = ++demoCounter;
    const double temperature = std::round((2 * std::sin(0.2 * double(n)) + 25) * 100) / 100;
    const double voltage = std::round((0.05 * std::cos(0.3 * double(n)) + 3.3) * 1000) / 1000;
    const bool alarm = n % 10 == 0;

    QJsonObject telemetry{{QStringLiteral("temperature"), temperature},
                          {QStringLiteral("voltage"), voltage}};
    QJsonObject flags{{QStringLiteral("online"), true}, {QStringLiteral("alarm"), alarm}};
    QJsonObject object{{QStringLiteral("seq"), n},
                       {QStringLiteral("device"), QStringLiteral("demo-sensor")},
                       {QStringLiteral("state"), QStringLiteral("running")},
                       {QStringLiteral("telemetry"), telemetry},
                       {QStringLiteral("flags"), flags}};
    QByteArray chunk = QJsonDocument(object).toJson(QJsonDocument::Compact);
    chunk += "\r\n";
    const QString xml = QStringLiteral("<telemetry seq=\"%1\" state=\"running\">\n"
                                       "  <device>demo-sensor</device>\n"
                                       "  <temperature unit=\"C\">%2</temperature>\n"
                                       "  <voltage unit=\"V\">%3</voltage>\n"
                                       "  <alarm>%4</alarm>\n"
                                       "</telemetry>\r\n")
                            .arg(n)
                            .arg(temperature, 0, 'f', 2)
                            .arg(voltage, 0, 'f', 3)
                            .arg(alarm ? QStringLiteral("true") : QStringLiteral("false"));
    chunk += xml.toUtf8();
    receive(chunk, QString());
}

} // namespace vn
