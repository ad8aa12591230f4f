#pragma once

#include <QByteArray>
#include <QString>
#include <Qt>

namespace vn {

// The bytes a key press sends to the host (always UTF-8 for text). Empty when
// the key sends nothing. Alt does not prefix ESC.
QByteArray terminalKeyBytes(int key, Qt::KeyboardModifiers modifiers, const QString& text);

} // namespace vn
