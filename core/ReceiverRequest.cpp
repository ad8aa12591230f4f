#include "core/ReceiverRequest.h"

#include "core/Journal.h"
#include "core/SerialTransfer.h"

#include <QByteArray>
#include <QJsonObject>

namespace vn {

namespace {

bool isRequest(char c)
{
    return c == SerialTransfer::CrcRequest;
}

// "ABC" from a device's log ends in a 'C' too; a request stands alone or
// follows another request, a line break or other punctuation (a NAK included:
// a receiver may have asked for checksum blocks before it asked for CRC).
bool endsWord(char c)
{
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9');
}

} // namespace

bool receiverAlreadyAsked(const Journal& journal, const QString& channelId, const QDateTime& at)
{
    // Journal times are UTC in one fixed-width format: as text they order
    // like the instants they name, and no event needs to be parsed.
    const QString cutoff = at.toUTC().addMSecs(-EarlyRequestWindow).toString(Qt::ISODateWithMs);
    const QLatin1String channelKey("channel_id"), timeKey("time"), directionKey("direction"), hexKey("hex");
    QByteArray tail;   // the newest received bytes, oldest first
    for (auto it = journal.events.rbegin(); it != journal.events.rend(); ++it) {
        const QJsonObject& event = it->first;
        if (tail.isEmpty() && event.value(timeKey).toString() < cutoff)
            return false;
        if (event.value(channelKey).toString() != channelId)
            continue;
        if (event.value(directionKey).toString() != QLatin1String("rx"))
            break;   // what came before may have been the answer to what we sent
        tail.prepend(QByteArray::fromHex(event.value(hexKey).toString().toLatin1()));
        if (tail.size() >= 2)
            break;
    }
    if (tail.isEmpty() || !isRequest(tail.back()))
        return false;
    return tail.size() < 2 || isRequest(tail.at(tail.size() - 2)) || !endsWord(tail.at(tail.size() - 2));
}

} // namespace vn
