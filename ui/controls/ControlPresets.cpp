#include "ui/controls/ControlPresets.h"

#include "ui/controls/ControlPacket.h"

#include <QJsonObject>

namespace vn {

namespace {

QJsonObject numeric(const QString& type, const QString& title, const QString& key, double minimum,
                    double maximum, double step, int decimals, const QString& value)
{
    QJsonObject record = defaultControl(type);
    record.insert(QStringLiteral("title"), title);
    record.insert(QStringLiteral("key"), key);
    record.insert(QStringLiteral("minimum"), minimum);
    record.insert(QStringLiteral("maximum"), maximum);
    record.insert(QStringLiteral("step"), step);
    record.insert(QStringLiteral("decimals"), decimals);
    record.insert(QStringLiteral("value"), value);
    return record;
}

QJsonObject action(const QString& type, const QString& title, const QString& key,
                   const QString& value, const QString& options = QString())
{
    QJsonObject record = defaultControl(type);
    record.insert(QStringLiteral("title"), title);
    record.insert(QStringLiteral("key"), key);
    record.insert(QStringLiteral("value"), value);
    if (!options.isEmpty())
        record.insert(QStringLiteral("options"), options);
    return record;
}

QJsonObject group(const QString& id, const QString& name, const QString& description,
                  const QJsonArray& controls)
{
    return QJsonObject{{QStringLiteral("id"), id},
                       {QStringLiteral("name"), name},
                       {QStringLiteral("description"), description},
                       {QStringLiteral("controls"), controls}};
}

} // namespace

QJsonArray controlGroupPresets()
{
    const QString number = QStringLiteral("number");
    const QString slider = QStringLiteral("slider");
    const QString switchType = QStringLiteral("switch");
    const QString buttonType = QStringLiteral("button");
    const QString select = QStringLiteral("select");

    QJsonArray presets;
    presets.append(group(
        QStringLiteral("pid"), QStringLiteral("PID 调参"),
        QStringLiteral("比例、积分、微分系数，目标值、输出限幅、使能与积分清零"),
        QJsonArray{
            numeric(number, QStringLiteral("比例系数 Kp"), QStringLiteral("kp"), 0, 10000, 0.01, 3,
                    QStringLiteral("1.000")),
            numeric(number, QStringLiteral("积分系数 Ki"), QStringLiteral("ki"), 0, 10000, 0.01, 3,
                    QStringLiteral("0.000")),
            numeric(number, QStringLiteral("微分系数 Kd"), QStringLiteral("kd"), 0, 10000, 0.01, 3,
                    QStringLiteral("0.000")),
            numeric(number, QStringLiteral("目标值"), QStringLiteral("setpoint"), -100000, 100000, 0.1,
                    2, QStringLiteral("0.00")),
            numeric(number, QStringLiteral("输出下限"), QStringLiteral("output_min"), -10000, 10000, 1,
                    2, QStringLiteral("0.00")),
            numeric(number, QStringLiteral("输出上限"), QStringLiteral("output_max"), -10000, 10000, 1,
                    2, QStringLiteral("100.00")),
            action(switchType, QStringLiteral("启用 PID"), QStringLiteral("pid_enable"),
                   QStringLiteral("0")),
            action(buttonType, QStringLiteral("清零积分"), QStringLiteral("pid_reset"),
                   QStringLiteral("1")),
        }));
    presets.append(group(
        QStringLiteral("motor"), QStringLiteral("电机调速"),
        QStringLiteral("目标转速、占空比、加速度、转向、使能与停止"),
        QJsonArray{
            numeric(slider, QStringLiteral("目标转速（rpm）"), QStringLiteral("speed"), 0, 6000, 10, 0,
                    QStringLiteral("0")),
            numeric(slider, QStringLiteral("占空比（%）"), QStringLiteral("duty"), 0, 100, 0.5, 1,
                    QStringLiteral("0.0")),
            numeric(number, QStringLiteral("加速度（rpm/s）"), QStringLiteral("acceleration"), 0, 10000,
                    10, 0, QStringLiteral("100")),
            action(select, QStringLiteral("转动方向"), QStringLiteral("direction"), QStringLiteral("0"),
                   QStringLiteral("正转=0\n反转=1")),
            action(switchType, QStringLiteral("电机使能"), QStringLiteral("motor_enable"),
                   QStringLiteral("0")),
            action(buttonType, QStringLiteral("停止电机"), QStringLiteral("motor_stop"),
                   QStringLiteral("1")),
        }));
    presets.append(group(
        QStringLiteral("temperature"), QStringLiteral("温度控制"),
        QStringLiteral("目标温度、回差、采样周期、控制模式与加热使能"),
        QJsonArray{
            numeric(number, QStringLiteral("目标温度（℃）"), QStringLiteral("temperature"), -40, 300,
                    0.5, 1, QStringLiteral("25.0")),
            numeric(number, QStringLiteral("温度回差（℃）"), QStringLiteral("hysteresis"), 0, 50, 0.1, 1,
                    QStringLiteral("1.0")),
            numeric(number, QStringLiteral("采样周期（ms）"), QStringLiteral("sample_ms"), 10, 60000, 10,
                    0, QStringLiteral("1000")),
            action(select, QStringLiteral("控制模式"), QStringLiteral("temperature_mode"),
                   QStringLiteral("0"), QStringLiteral("恒温=0\n手动=1")),
            action(switchType, QStringLiteral("加热使能"), QStringLiteral("heater_enable"),
                   QStringLiteral("0")),
        }));
    presets.append(group(
        QStringLiteral("pwm"), QStringLiteral("PWM 输出"),
        QStringLiteral("频率、占空比、输出通道、极性与输出使能"),
        QJsonArray{
            numeric(number, QStringLiteral("输出频率（Hz）"), QStringLiteral("pwm_frequency"), 1,
                    1000000, 100, 0, QStringLiteral("1000")),
            numeric(slider, QStringLiteral("占空比（%）"), QStringLiteral("pwm_duty"), 0, 100, 0.1, 1,
                    QStringLiteral("0.0")),
            action(select, QStringLiteral("输出通道"), QStringLiteral("pwm_channel"), QStringLiteral("0"),
                   QStringLiteral("通道 1=0\n通道 2=1\n通道 3=2\n通道 4=3")),
            action(select, QStringLiteral("输出极性"), QStringLiteral("pwm_polarity"),
                   QStringLiteral("0"), QStringLiteral("正常=0\n反相=1")),
            action(switchType, QStringLiteral("输出使能"), QStringLiteral("pwm_enable"),
                   QStringLiteral("0")),
        }));
    return presets;
}

QJsonArray exampleControls()
{
    auto example = [](const QString& type, const QString& title, const QString& key) {
        QJsonObject record = defaultControl(type);
        record.insert(QStringLiteral("title"), title);
        record.insert(QStringLiteral("key"), key);
        return record;
    };
    QJsonObject slider = example(QStringLiteral("slider"), QStringLiteral("目标转速"), QStringLiteral("speed"));
    slider.insert(QStringLiteral("maximum"), 3000);
    slider.insert(QStringLiteral("step"), 10);
    slider.insert(QStringLiteral("value"), QStringLiteral("1200"));
    QJsonObject number =
        example(QStringLiteral("number"), QStringLiteral("目标温度"), QStringLiteral("temperature"));
    number.insert(QStringLiteral("decimals"), 1);
    number.insert(QStringLiteral("step"), 0.5);
    number.insert(QStringLiteral("value"), QStringLiteral("25.0"));
    QJsonObject button = example(QStringLiteral("button"), QStringLiteral("保存参数"), QStringLiteral("save"));
    button.insert(QStringLiteral("value"), QStringLiteral("1"));
    return QJsonArray{slider, number,
                      example(QStringLiteral("switch"), QStringLiteral("使能输出"), QStringLiteral("enable")),
                      button,
                      example(QStringLiteral("select"), QStringLiteral("工作模式"), QStringLiteral("mode"))};
}

} // namespace vn
