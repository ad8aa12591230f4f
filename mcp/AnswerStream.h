#pragma once

#include <QByteArray>
#include <QObject>
#include <QTimer>

#include <vector>

class QTcpSocket;

namespace vn {

// A large answer handed to its connection a slice at a time, as the agent
// takes it. Written in one go, a journal read of many megabytes costs the
// turn of the event loop that builds it a fresh buffer of that size (a page
// fault every 4 KiB), and the socket then hands all of it to the kernel in
// the turns after; eight agents reading at once held everything else on the
// loop for a quarter of a second. A slice is copied from the pieces (which
// share the journal cache's bytes) only when the socket has less than two
// left to write, so a turn copies about a slice per connection, and a slow
// agent holds no more than two in the program. Smaller slices cost more
// turns than they save: the socket hands the kernel one slice a turn, and
// at 256 KiB eight agents on a busy window got half of what they read.
//
// A child of the socket, so it ends with its connection. The connection is
// closed once the last slice is written, or aborted when the agent has taken
// nothing for `stallTimeoutMs`.
class AnswerStream : public QObject {
    Q_OBJECT
public:
    static constexpr qsizetype SliceBytes = 1024 * 1024;
    static constexpr qsizetype QueuedBytes = 2 * SliceBytes;

    // `pieces` are the whole HTTP answer, head included, in order.
    static void start(QTcpSocket* socket, std::vector<QByteArray> pieces, int stallTimeoutMs);

private:
    AnswerStream(QTcpSocket* socket, std::vector<QByteArray> pieces, int stallTimeoutMs);
    void pump();

    QTcpSocket* socket;
    std::vector<QByteArray> pieces;
    std::size_t piece = 0;  // the next piece to copy
    qsizetype offset = 0;   // how much of it is already copied
    QTimer stall;
};

} // namespace vn
