#pragma once

#include <QByteArray>
#include <QString>
#include <QTextCodec>

namespace vn {

// The bytes of a whole text in an encoding, ending in the encoding's initial
// shift state: a text in ISO-2022-JP (or -KR, -CN) that ends in kanji closes
// with the switch back to ASCII, so the line ending and whatever the device
// reads next are not taken as double-byte characters. `state` (may be null)
// collects the invalid and held-back characters as QTextCodec does.
QByteArray encodeWhole(const QTextCodec& codec, const QString& text, QTextCodec::ConverterState* state = nullptr);

} // namespace vn
