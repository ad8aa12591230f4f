#pragma once

#include <QByteArray>
#include <QJsonObject>
#include <QList>
#include <QString>

namespace vn {

// The five kinds of control a panel can hold, in the order the panel's
// "添加控件" menu lists them.
inline const QList<QString>& controlTypes()
{
    static const QList<QString> types{QStringLiteral("slider"), QStringLiteral("number"),
                                      QStringLiteral("switch"), QStringLiteral("button"),
                                      QStringLiteral("select")};
    return types;
}

// A new control record of any type: all fourteen keys with their defaults.
QJsonObject defaultControl(const QString& type);

// The bytes the control sends for its current value: 1 to 4096 bytes. Throws
// the system's runtime error with a Chinese message when the record cannot
// build a packet; it never changes anything.
QByteArray controlPacket(const QJsonObject& control);

// The Chinese label of a control type; anything unknown is a select.
QString typeName(const QString& type);

// One entry of a select's "options" text.
struct ControlOption {
    QString label;
    QString value;
    bool operator==(const ControlOption&) const = default;
};

// The options of a select: one per line holding "label=value", blanks trimmed
// around both; empty lines and lines without a label before "=" yield nothing.
QList<ControlOption> controlOptions(const QString& text);

} // namespace vn
