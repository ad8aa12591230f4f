#pragma once
// Received bytes as the journal hands them to a view: one "rx" event from
// COM1 per piece.
#include <QByteArray>
#include <QJsonObject>
#include <QList>
#include <QString>

namespace vn::bench {

inline QList<QJsonObject> rxEvents(const QByteArray& bytes, qsizetype pieceBytes)
{
    QList<QJsonObject> out;
    for (qsizetype at = 0; at < bytes.size(); at += pieceBytes) {
        const QByteArray piece = bytes.mid(at, pieceBytes);
        out.append(QJsonObject{{"direction", "rx"},
                               {"peer", "COM1"},
                               {"hex", QString::fromLatin1(piece.toHex(' '))},
                               {"time", "2026-01-02T03:04:05.678Z"},
                               {"size", piece.size()}});
    }
    return out;
}

} // namespace vn::bench
