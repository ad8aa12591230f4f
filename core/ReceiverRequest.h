#pragma once

#include <QDateTime>
#include <QString>

namespace vn {

class Journal;

// How long a 'C' or NAK that arrived before an XMODEM send started still
// counts as the receiver's request. lrzsz's rx asks again only every 10 s;
// a receiver that asked longer ago than that and has stayed silent has
// usually given up.
constexpr qint64 EarlyRequestWindow = 10000;

// True when the channel's last received byte, within EarlyRequestWindow of
// `at` and after everything the channel sent and its last change of state, is
// a receiver asking for the first block: a 'C' or a NAK that is not the end
// of a word in some other text. Such a request reaches the journal while the
// session page still owns the channel's bytes, before any transfer listens.
bool receiverAlreadyAsked(const Journal& journal, const QString& channelId,
                          const QDateTime& at = QDateTime::currentDateTimeUtc());

} // namespace vn
