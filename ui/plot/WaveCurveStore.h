#pragma once

#include <QJsonObject>
#include <QList>
#include <QMap>
#include <QPointF>
#include <QPointer>
#include <QString>
#include <QStringList>

namespace vn {

class Channel;

// The points of one curve: x = sample index, y = value, x ascending.
using WavePoints = QList<QPointF>;

// The curves of one plot and how they are fed from a channel's "@wave"
// samples: keyed per field and peer, bounded to the newest n samples of each
// source, at most 16 curves, read incrementally on every tick.
class WaveCurveStore {
public:
    static constexpr int MaxCurves = 16;

    // The key of a field from a peer: the field name for the peer "default",
    // else "peer/field".
    static QString curveKey(const QString& source, const QString& field);

    struct Intake {
        bool changed = false;     // the curves changed
        bool viewReset = false;   // another channel: the view starts over
    };
    // One tick: binds to channel with n samples per source and takes what is new.
    Intake updateChannel(Channel* channel, int n);
    // Replaces every curve by the samples of a waveform JSON object; unbinds.
    void setSamples(const QJsonObject& samples);
    // Binds and forgets every sample that exists now.
    void clearSamples(Channel* channel, int n);
    // The index lies after the source's last clear.
    bool sampleIsCurrent(const QString& source, qint64 index) const;
    // Gives new curve keys their ordinal of first appearance.
    void noteOrdinals();

    QMap<QString, WavePoints> curves;
    QMap<QString, int> curveOrder;          // never pruned: ordinals are not reused
    QMap<QString, qint64> clearedIndex;     // per source: its counter at the last clear
    QMap<QString, qint64> readCounter;      // per source: its counter when last read
    QMap<QString, QStringList> sourceCurves;
    QPointer<Channel> channel;
    int sampleLimit = 0;

private:
    void dropSourceCurves(const QString& source);
    // Appends a point unless the key is new and 16 curves exist.
    void addPoint(const QString& source, const QString& key, double x, double y);
};

} // namespace vn
