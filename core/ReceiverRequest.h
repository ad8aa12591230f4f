#pragma once

#include <QDateTime>
#include <QString>

namespace vn {

class Journal;

// How long a 'C' that arrived before an XMODEM send started still counts as
// the receiver's request. lrzsz's rx asks again every 14 s (measured: 13.97 to
// 14.07 s between requests, on a busy machine too), so a receiver that is
// still waiting has always asked within this window; one that asked longer
// ago and has stayed silent has usually given up.
constexpr qint64 EarlyRequestWindow = 16000;

// True when the channel's last received byte, within EarlyRequestWindow of
// `at` and after everything the channel sent and its last change of state, is
// a receiver asking for the first block in CRC mode: a 'C' that is not the end
// of a word in some other text. Such a request reaches the journal while the
// session page still owns the channel's bytes, before any transfer listens.
// A NAK asks for checksum blocks, which the sender never speaks: it is no
// request here, as it is none while the sender waits.
bool receiverAlreadyAsked(const Journal& journal, const QString& channelId,
                          const QDateTime& at = QDateTime::currentDateTimeUtc());

} // namespace vn
