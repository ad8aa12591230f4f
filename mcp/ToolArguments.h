#pragma once

#include <QJsonObject>
#include <QJsonValue>
#include <QString>

#include <limits>

namespace vn::args {

// Tool arguments are read with defaults: a missing argument, or one of another
// JSON type, takes the default; so does a number with a fraction, or one out
// of range (32 bits for counts, 64 bits for cursors).

inline QString string(const QJsonObject& arguments, const QString& key, const QString& fallback = QString())
{
    const QJsonValue value = arguments.value(key);
    return value.isString() ? value.toString() : fallback;
}

inline bool boolean(const QJsonObject& arguments, const QString& key, bool fallback)
{
    const QJsonValue value = arguments.value(key);
    return value.isBool() ? value.toBool() : fallback;
}

inline QJsonObject object(const QJsonObject& arguments, const QString& key)
{
    return arguments.value(key).toObject();
}

inline qint64 integer64(const QJsonObject& arguments, const QString& key, qint64 fallback)
{
    const QJsonValue value = arguments.value(key);
    if (!value.isDouble())
        return fallback;
    // toInteger() refuses fractions and values beyond 64 bits by returning its
    // default; two different defaults tell a refusal from a real value.
    const qint64 first = value.toInteger(0);
    if (first != value.toInteger(1))
        return fallback;
    return first;
}

inline int integer(const QJsonObject& arguments, const QString& key, int fallback)
{
    const qint64 value = integer64(arguments, key, std::numeric_limits<qint64>::min());
    if (value < std::numeric_limits<int>::min() || value > std::numeric_limits<int>::max())
        return fallback;
    return static_cast<int>(value);
}

} // namespace vn::args
