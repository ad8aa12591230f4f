// The waveform plot's presentation as a page stores it: WavePresentation::fromJson
// and WavePlot::restorePresentation on any JSON object, over a small plot that
// holds a few samples of the curves the object names. Restoring what the plot
// saves, through the workspace file's text, saves the same object again; every
// style, text and number stays within the plot's limits; the legend, the hover
// readout and a render of the restored plot into its image do not fail.
//
// The first byte chooses the plot's size, which axes show and whether the
// plot holds samples; the rest is the JSON text.

#include "tests/fuzz/FuzzSupport.h"
#include "tests/fuzz/FuzzWidgets.h"
#include "ui/plot/WavePlot.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QRegularExpression>

#include <algorithm>
#include <cmath>

namespace {

// Samples of the default source for the curves the presentation names, so
// their styles and visibility take part in the render.
QJsonObject samplesFor(const QJsonObject& object)
{
    QStringList keys;
    for (const char* name : {"curves", "hidden", "readouts"}) {
        const QJsonValue value = object.value(QLatin1String(name));
        const QStringList names = value.isObject() ? value.toObject().keys() : QStringList();
        for (const QString& key : names)
            keys.append(key);
        for (const QJsonValue& key : value.toArray())
            keys.append(key.toString());
    }
    keys.append(QStringLiteral("a"));
    QJsonArray samples;
    for (int index = 1; index <= 24; ++index) {
        QJsonObject values;
        for (qsizetype k = 0; k < keys.size() && k < 6; ++k)
            values.insert(keys.at(k), std::sin(index * 0.7 + double(k)) * double(k + 1) * 10.0);
        samples.append(QJsonObject{{"index", index}, {"values", values}});
    }
    return {{"sources", QJsonObject{{"default", QJsonObject{{"samples", samples}}}}}};
}

bool finite(const vn::WaveRange& range)
{
    return std::isfinite(range.first) && std::isfinite(range.second) && range.first <= range.second;
}

void checkStyle(const vn::WaveCurveStyle& style)
{
    if (!std::isfinite(style.width) || style.width < 0.5 || style.width > 8.0)
        vn::fuzz::broken("a curve width outside 0.5..8");
    if (style.line < 1 || style.line > 4)
        vn::fuzz::broken("a line style outside 1..4");
    if (style.color.isValid() && style.color.spec() != QColor::Rgb && style.color.spec() != QColor::ExtendedRgb)
        vn::fuzz::broken("a curve colour that is not RGB");
}

// A text as stored, against the value it was read from: a cut must not part
// a surrogate pair (the value itself may hold a lone half).
void checkText(const QString& text, qsizetype limit, const QJsonValue& source)
{
    // Char by char, as a regular expression sees nothing in a text with a
    // lone surrogate.
    const auto control = [](QChar c) { return c.unicode() < 0x20 || c.unicode() == 0x7f; };
    if (text.size() > limit)
        vn::fuzz::broken("an axis text longer than its limit");
    if (std::any_of(text.cbegin(), text.cend(), control))
        vn::fuzz::broken("an axis text keeps a control character");
    if (text != text.trimmed())
        vn::fuzz::broken("an axis text is not trimmed");
    QString whole = source.toString();
    whole.removeIf(control);
    whole = whole.trimmed();
    if (!text.isEmpty() && text.back().isHighSurrogate() && whole.size() > text.size() && whole.startsWith(text)
        && whole.at(text.size()).isLowSurrogate())
        vn::fuzz::broken("an axis text cut inside a surrogate pair");
}

void checkPresentation(const vn::WavePresentation& p, const QJsonObject& source)
{
    checkStyle(p.defaultStyle);
    for (const vn::WaveCurveStyle& style : p.curveStyles)
        checkStyle(style);
    if (p.readouts.size() > vn::WavePresentation::MaxReadouts)
        vn::fuzz::broken("more than four readouts");
    for (qsizetype i = 0; i < p.readouts.size(); ++i) {
        if (p.readouts.at(i).isEmpty() || p.readouts.indexOf(p.readouts.at(i)) != i)
            vn::fuzz::broken("an empty or repeated readout");
    }
    if (!p.readoutsChosen && !p.readouts.isEmpty())
        vn::fuzz::broken("readouts kept while they follow the curves");
    checkText(p.xTitle, 64, source.value(QLatin1String("x_title")));
    checkText(p.yTitle, 64, source.value(QLatin1String("y_title")));
    checkText(p.xUnit, 24, source.value(QLatin1String("x_unit")));
    checkText(p.yUnit, 24, source.value(QLatin1String("y_unit")));
    if (!std::isfinite(p.xIncrement) || p.xIncrement < 1e-9 || p.xIncrement > 1e9)
        vn::fuzz::broken("a sample interval outside 1e-9..1e9");
}

void checkSavedColours(const QJsonObject& saved)
{
    static const QRegularExpression rgb(QStringLiteral("^(#[0-9a-f]{6})?$"));
    QList<QJsonValue> styles{saved.value(QLatin1String("defaults"))};
    const QJsonObject curves = saved.value(QLatin1String("curves")).toObject();
    for (auto it = curves.constBegin(); it != curves.constEnd(); ++it)
        styles.append(it.value());
    for (const QJsonValue& style : styles) {
        if (!rgb.match(style.toObject().value(QLatin1String("color")).toString()).hasMatch())
            vn::fuzz::broken("a saved colour is neither automatic nor #rrggbb");
    }
}

// The workspace file holds the object as indented JSON text.
QJsonObject throughText(const QJsonObject& object)
{
    QJsonParseError error;
    const QJsonDocument document =
        QJsonDocument::fromJson(QJsonDocument(object).toJson(QJsonDocument::Indented), &error);
    if (error.error != QJsonParseError::NoError || !document.isObject())
        vn::fuzz::broken("a saved presentation does not read back as JSON");
    return document.object();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    vn::fuzz::ensureWidgets();
    // Kept for the whole run, like the application it needs.
    static vn::WavePlot& plot = *new vn::WavePlot;
    if (size < 1)
        return 0;
    const std::uint8_t options = data[0];
    const std::optional<QJsonObject> given = vn::fuzz::objectAfterOptions(data, size);
    if (!given)
        return 0;
    const QJsonObject object = *given;

    const vn::WavePresentation read = vn::WavePresentation::fromJson(object);
    checkPresentation(read, object);

    plot.resize(200 + (options & 0x3) * 60, 180 + ((options >> 2) & 0x3) * 40);
    plot.setXAxisVisible(!(options & 0x10));
    plot.setYAxisVisible(!(options & 0x20));
    plot.setSamples(options & 0x40 ? QJsonObject() : samplesFor(object));

    plot.restorePresentation(object);
    const QJsonObject first = plot.presentationSettings();
    if (first != read.json())
        vn::fuzz::broken("the plot restores something else than the presentation reads");
    checkPresentation(plot.presentation(), object);
    checkSavedColours(first);
    vn::fuzz::show(QJsonDocument(first).toJson(QJsonDocument::Compact));

    plot.restorePresentation(throughText(first));
    const QJsonObject second = plot.presentationSettings();
    if (second != first)
        vn::fuzz::broken("restoring a saved presentation saves another one");
    plot.restorePresentation(throughText(second));
    if (plot.presentationSettings() != second)
        vn::fuzz::broken("a saved presentation is not a fixed point");

    if (!finite(plot.horizontalRange()) || !finite(plot.verticalRange()) || !finite(plot.valueRange()))
        vn::fuzz::broken("a plot range is not finite");
    if (plot.readoutChannels().size() > vn::WavePresentation::MaxReadouts)
        vn::fuzz::broken("the legend reads out more than four curves");
    for (auto it = plot.curves().cbegin(); it != plot.curves().cend(); ++it) {
        if (!plot.curveColor(it.key()).isValid())
            vn::fuzz::broken("a curve is drawn without a colour");
    }
    const QRectF area = plot.plotArea();
    if (!std::isfinite(area.width()) || !std::isfinite(area.height()))
        vn::fuzz::broken("the plot area is not finite");
    const QJsonObject hit = plot.inspect(area.center());
    if (!hit.isEmpty())
        plot.readoutBox(area.center(), plot.readoutLines(hit));
    plot.rebuildImage();
    const QImage& image = plot.renderedImage();
    if (image.isNull())
        vn::fuzz::broken("the plot renders no image");
    return 0;
}
