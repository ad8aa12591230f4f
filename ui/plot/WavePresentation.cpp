#include "ui/plot/WavePresentation.h"

#include <QCollator>
#include <QJsonArray>
#include <QLocale>

#include <algorithm>
#include <cmath>

namespace vn {

namespace {

QString axisLabel(const QString& title, const QString& unit)
{
    if (unit.isEmpty())
        return title;
    if (title.isEmpty())
        return unit;
    return title + QStringLiteral(" (") + unit + QLatin1Char(')');
}

void appendReadout(QList<QString>& readouts, const QString& name)
{
    if (readouts.size() < WavePresentation::MaxReadouts && !name.isEmpty() && !readouts.contains(name))
        readouts.append(name);
}

QString textOr(const QJsonValue& value, const QString& fallback)
{
    return value.isString() ? value.toString() : fallback;
}

} // namespace

QString shortText(const QString& text, int n)
{
    // Char by char: a regular expression matches nothing in a text with a
    // lone surrogate, which would keep its control characters.
    QString result = text;
    result.removeIf([](QChar c) { return c.unicode() < 0x20 || c.unicode() == 0x7f; });
    result = result.trimmed();
    if (result.size() > n) {
        // The cut keeps a surrogate pair whole and drops the blanks it may
        // leave at the end, so a stored text reads back as itself.
        qsizetype end = n;
        if (end > 0 && result.at(end - 1).isHighSurrogate())
            --end;
        result.truncate(end);
        result = result.trimmed();
    }
    return result;
}

WaveCurveStyle WavePresentation::curveStyle(const QString& key) const
{
    const auto it = curveStyles.constFind(key);
    return it != curveStyles.cend() ? *it : defaultStyle;
}

QString WavePresentation::xAxisLabel() const
{
    return axisLabel(xTitle, xUnit);
}

QString WavePresentation::yAxisLabel() const
{
    return axisLabel(yTitle, yUnit);
}

QStringList WavePresentation::readoutChannels(const QStringList& curveKeys) const
{
    if (readoutsChosen)
        return readouts;
    QStringList keys = curveKeys;
    // The C locale's collator compares code points and ignores numeric mode;
    // ch2 must still come before ch10 there.
    QLocale locale;
    if (locale.language() == QLocale::C)
        locale = QLocale(QLocale::English, QLocale::UnitedStates);
    QCollator collator(locale);
    collator.setNumericMode(true);
    std::stable_sort(keys.begin(), keys.end(),
                     [&](const QString& a, const QString& b) { return collator.compare(a, b) < 0; });
    if (keys.size() > MaxReadouts)
        keys.erase(keys.begin() + MaxReadouts, keys.end());
    return keys;
}

void WavePresentation::setReadoutChannels(const QStringList& names)
{
    readouts.clear();
    for (const QString& name : names)
        appendReadout(readouts, name);
    readoutsChosen = true;
}

QJsonObject WavePresentation::json() const
{
    QJsonObject styles;
    for (auto it = curveStyles.cbegin(); it != curveStyles.cend(); ++it)
        styles.insert(it.key(), styleJson(it.value()));
    QStringList hidden(hiddenCurves.cbegin(), hiddenCurves.cend());
    std::sort(hidden.begin(), hidden.end());
    QJsonObject object;
    object.insert(QStringLiteral("curves"), styles);
    object.insert(QStringLiteral("hidden"), QJsonArray::fromStringList(hidden));
    object.insert(QStringLiteral("defaults"), styleJson(defaultStyle));
    object.insert(QStringLiteral("readouts"),
                  readoutsChosen ? QJsonValue(QJsonArray::fromStringList(readouts)) : QJsonValue());
    object.insert(QStringLiteral("x_title"), xTitle);
    object.insert(QStringLiteral("y_title"), yTitle);
    object.insert(QStringLiteral("x_unit"), xUnit);
    object.insert(QStringLiteral("y_unit"), yUnit);
    object.insert(QStringLiteral("x_increment"), xIncrement);
    return object;
}

WavePresentation WavePresentation::fromJson(const QJsonObject& object)
{
    WavePresentation p;
    p.defaultStyle = readStyle(object.value(QLatin1String("defaults")).toObject());
    const QJsonObject styles = object.value(QLatin1String("curves")).toObject();
    for (auto it = styles.constBegin(); it != styles.constEnd(); ++it)
        p.curveStyles.insert(it.key(), readStyle(it.value().toObject()));
    const QJsonValue readouts = object.value(QLatin1String("readouts"));
    p.readoutsChosen = readouts.isArray();
    for (const QJsonValue& name : readouts.toArray())
        appendReadout(p.readouts, name.toString());
    for (const QJsonValue& key : object.value(QLatin1String("hidden")).toArray())
        p.hiddenCurves.insert(key.toString());
    p.xTitle = shortText(textOr(object.value(QLatin1String("x_title")), QStringLiteral("采样序号")), 64);
    p.yTitle = shortText(textOr(object.value(QLatin1String("y_title")), QString()), 64);
    p.xUnit = shortText(textOr(object.value(QLatin1String("x_unit")), QString()), 24);
    p.yUnit = shortText(textOr(object.value(QLatin1String("y_unit")), QString()), 24);
    const QJsonValue increment = object.value(QLatin1String("x_increment"));
    const double value = increment.isDouble() ? increment.toDouble() : 1.0;
    p.xIncrement = std::isfinite(value) && value >= 1e-9 && value <= 1e9 ? value : 1.0;
    return p;
}

} // namespace vn
