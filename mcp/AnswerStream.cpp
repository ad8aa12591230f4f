#include "mcp/AnswerStream.h"

#include <QTcpSocket>

#include <algorithm>

namespace vn {

void AnswerStream::start(QTcpSocket* socket, std::vector<QByteArray> pieces, int stallTimeoutMs)
{
    auto* stream = new AnswerStream(socket, std::move(pieces), stallTimeoutMs);
    stream->pump();
}

AnswerStream::AnswerStream(QTcpSocket* socket_, std::vector<QByteArray> pieces_, int stallTimeoutMs)
    : QObject(socket_), socket(socket_), pieces(std::move(pieces_))
{
    stall.setSingleShot(true);
    stall.setInterval(stallTimeoutMs);
    connect(&stall, &QTimer::timeout, socket, &QAbstractSocket::abort);
    connect(socket, &QIODevice::bytesWritten, this, &AnswerStream::pump);
}

void AnswerStream::pump()
{
    if (socket->state() != QAbstractSocket::ConnectedState)
        return;
    stall.start();
    while (piece < pieces.size() && socket->bytesToWrite() < QueuedBytes) {
        QByteArray slice;
        slice.reserve(SliceBytes);
        while (piece < pieces.size() && slice.size() < SliceBytes) {
            const QByteArray& bytes = pieces[piece];
            const qsizetype take = std::min(bytes.size() - offset, SliceBytes - slice.size());
            slice.append(bytes.constData() + offset, take);
            offset += take;
            if (offset == bytes.size()) {
                // Let go of the cache's bytes as soon as they are copied.
                pieces[piece] = QByteArray();
                ++piece;
                offset = 0;
            }
        }
        if (socket->write(slice) != slice.size()) {
            socket->abort();
            return;
        }
    }
    if (piece == pieces.size()) {
        stall.stop();
        disconnect(socket, &QIODevice::bytesWritten, this, &AnswerStream::pump);
        // Closes once what is queued has gone out.
        socket->disconnectFromHost();
        deleteLater();
    }
}

} // namespace vn
