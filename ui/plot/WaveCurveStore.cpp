#include "ui/plot/WaveCurveStore.h"

#include "core/Channel.h"

#include <QJsonArray>

#include <algorithm>

namespace vn {

namespace {

const QString defaultSource = QStringLiteral("default");

qint64 sampleIndexOf(const QJsonObject& sample)
{
    return sample.value(QLatin1String("index")).toInteger();
}

} // namespace

QString WaveCurveStore::curveKey(const QString& source, const QString& field)
{
    return source == defaultSource ? field : source + QLatin1Char('/') + field;
}

void WaveCurveStore::dropSourceCurves(const QString& source)
{
    for (const QString& key : sourceCurves.value(source))
        curves.remove(key);
    sourceCurves.remove(source);
}

void WaveCurveStore::addPoint(const QString& source, const QString& key, double x, double y)
{
    auto it = curves.find(key);
    if (it == curves.end()) {
        if (curves.size() >= MaxCurves)
            return;
        it = curves.insert(key, WavePoints());
    }
    it->append(QPointF(x, y));
    QStringList& keys = sourceCurves[source];
    if (!keys.contains(key))
        keys.append(key);
}

WaveCurveStore::Intake WaveCurveStore::updateChannel(Channel* target, int n)
{
    Intake result;
    Channel* prev = channel.data();
    bool rebind = false;
    if (target != prev) {
        clearedIndex.clear();
        result.viewReset = true;
        rebind = true;
    } else if (n != sampleLimit) {
        rebind = true;
    } else if (!target) {
        if (curves.isEmpty())
            return result;
        curves.clear();
        result.changed = true;
        return result;
    }
    if (rebind) {
        curves.clear();
        readCounter.clear();
        sourceCurves.clear();
        channel = target;
        sampleLimit = n;
        result.changed = true;
        if (!target)
            return result;
    }

    const auto& sources = target->sources;
    const QStringList known = readCounter.keys();
    for (const QString& src : known) {
        if (sources.find(src) == sources.end()) {
            dropSourceCurves(src);
            readCounter.remove(src);
            result.changed = true;
        }
    }

    for (const auto& [src, source] : sources) {
        auto read = readCounter.constFind(src);
        qint64 last = -1;
        if (read != readCounter.cend()) {
            last = *read;
        } else {
            const auto cleared = clearedIndex.constFind(src);
            if (cleared != clearedIndex.cend())
                last = *cleared;
        }
        const qint64 counter = source->sampleIndex;
        if (counter == last)
            continue;
        if (counter < last) {   // a new Source for this peer counts from 1 again
            clearedIndex.remove(src);
            dropSourceCurves(src);
            last = -1;
        }
        const auto& samples = source->samples;
        const qsizetype count = qsizetype(samples.size());
        if (count >= 1) {
            // n <= 0 shows nothing: the window starts past the newest sample
            // instead of reading beyond the queue.
            const qsizetype start = n > 0 ? std::max<qsizetype>(count - n, 0) : count;
            const double oldest = start < count ? double(sampleIndexOf(samples[size_t(start)]))
                                                : double(sampleIndexOf(samples.back())) + 1.0;
            auto keysIt = sourceCurves.find(src);
            if (keysIt != sourceCurves.end()) {
                QStringList& keys = *keysIt;
                for (qsizetype k = 0; k < keys.size();) {
                    auto curve = curves.find(keys.at(k));
                    if (curve == curves.end()) {
                        keys.removeAt(k);
                        continue;
                    }
                    const auto firstKept = std::lower_bound(
                        curve->cbegin(), curve->cend(), oldest,
                        [](const QPointF& p, double x) { return p.x() < x; });
                    const qsizetype drop = firstKept - curve->cbegin();
                    if (drop > 0)
                        curve->remove(0, drop);
                    if (curve->isEmpty()) {
                        curves.erase(curve);
                        keys.removeAt(k);
                        continue;
                    }
                    ++k;
                }
            }
            qsizetype first = start;
            for (qsizetype i = count - 1; i >= start; --i) {
                if (sampleIndexOf(samples[size_t(i)]) <= last) {
                    first = i + 1;
                    break;
                }
            }
            for (qsizetype i = first; i < count; ++i) {
                const QJsonObject& sample = samples[size_t(i)];
                const double x = double(sampleIndexOf(sample));
                const QJsonObject values = sample.value(QLatin1String("values")).toObject();
                for (auto field = values.constBegin(); field != values.constEnd(); ++field)
                    addPoint(src, curveKey(src, field.key()), x, field.value().toDouble(0.0));
            }
        }
        readCounter.insert(src, counter);
        result.changed = true;
    }
    return result;
}

void WaveCurveStore::setSamples(const QJsonObject& samples)
{
    channel = nullptr;
    clearedIndex.clear();
    readCounter.clear();
    sourceCurves.clear();
    curves.clear();
    const QJsonObject sources = samples.value(QLatin1String("sources")).toObject();
    for (auto src = sources.constBegin(); src != sources.constEnd(); ++src) {
        const QJsonArray list = src.value().toObject().value(QLatin1String("samples")).toArray();
        for (const QJsonValue& element : list) {
            const QJsonObject sample = element.toObject();
            const double x = double(sampleIndexOf(sample));
            const QJsonObject values = sample.value(QLatin1String("values")).toObject();
            for (auto field = values.constBegin(); field != values.constEnd(); ++field)
                addPoint(src.key(), curveKey(src.key(), field.key()), x, field.value().toDouble(0.0));
        }
    }
}

void WaveCurveStore::clearSamples(Channel* target, int n)
{
    channel = target;
    sampleLimit = n;
    curves.clear();
    readCounter.clear();
    sourceCurves.clear();
    clearedIndex.clear();
    if (!target)
        return;
    for (const auto& [src, source] : target->sources) {
        clearedIndex.insert(src, source->sampleIndex);
        readCounter.insert(src, source->sampleIndex);
    }
}

bool WaveCurveStore::sampleIsCurrent(const QString& source, qint64 index) const
{
    return index > clearedIndex.value(source, -1);
}

void WaveCurveStore::noteOrdinals()
{
    for (auto it = curves.cbegin(); it != curves.cend(); ++it) {
        if (!curveOrder.contains(it.key()))
            curveOrder.insert(it.key(), int(curveOrder.size()));
    }
}

} // namespace vn
