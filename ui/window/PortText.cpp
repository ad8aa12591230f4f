#include "ui/window/PortText.h"

#include "ui/window/Window.h"

#include <QComboBox>
#include <QStringList>

namespace vn {

QString portDescription(const QJsonObject& port, bool detailed)
{
    QStringList lines;
    const auto add = [&lines](const QString& prefix, const QString& value) {
        if (!value.isEmpty())
            lines.append(prefix + value);
    };
    add(QString(), port.value(QStringLiteral("description")).toString());
    add(QStringLiteral("制造商："), port.value(QStringLiteral("manufacturer")).toString());
    add(QString(), usbIdentity(port));
    add(QStringLiteral("序列号："), serialNumber(port));
    if (detailed)
        add(QStringLiteral("设备路径："), port.value(QStringLiteral("system_location")).toString());
    return lines.join(QLatin1Char('\n'));
}

bool isDevicePath(const QString& text)
{
    return text.startsWith(QLatin1Char('/'));
}

int findPortItem(const QComboBox* box, const QString& text)
{
    if (isDevicePath(text))
        return box->findText(text, Qt::MatchFixedString | Qt::MatchCaseSensitive);
    return box->findText(text, Qt::MatchFixedString);
}

bool samePortText(const QString& a, const QString& b)
{
    if (isDevicePath(a) || isDevicePath(b))
        return a == b;
    return a.compare(b, Qt::CaseInsensitive) == 0;
}

} // namespace vn
