#include "ui/views/TerminalKeys.h"

namespace vn {

namespace {

// xterm's modifier number: 1 + Shift 1 + Alt 2 + Ctrl 4 + Meta 8.
int modifierNumber(Qt::KeyboardModifiers m)
{
    return 1 + (m & Qt::ShiftModifier ? 1 : 0) + (m & Qt::AltModifier ? 2 : 0)
           + (m & Qt::ControlModifier ? 4 : 0) + (m & Qt::MetaModifier ? 8 : 0);
}

QByteArray navigation(char final, const char* plain, Qt::KeyboardModifiers m)
{
    if (m)
        return "\033[1;" + QByteArray::number(modifierNumber(m)) + final;
    return plain;
}

} // namespace

QByteArray terminalKeyBytes(int key, Qt::KeyboardModifiers modifiers, const QString& text)
{
    const Qt::KeyboardModifiers m = modifiers
        & (Qt::ShiftModifier | Qt::ControlModifier | Qt::AltModifier | Qt::MetaModifier);
    switch (key) {
    case Qt::Key_Up:
        return navigation('A', "\033[A", m);
    case Qt::Key_Down:
        return navigation('B', "\033[B", m);
    case Qt::Key_Right:
        return navigation('C', "\033[C", m);
    case Qt::Key_Left:
        return navigation('D', "\033[D", m);
    case Qt::Key_Home:
        return navigation('H', "\033[7~", m);
    case Qt::Key_End:
        return navigation('F', "\033[4~", m);
    case Qt::Key_PageUp:
        return "\033[5~";
    case Qt::Key_PageDown:
        return "\033[6~";
    case Qt::Key_Insert:
        return "\033[2~";
    case Qt::Key_Backtab:
        return "\033[Z";
    case Qt::Key_Tab:
        return m & Qt::ShiftModifier ? QByteArray("\033[Z") : QByteArray("\t");
    default:
        break;
    }
    if ((m & Qt::ControlModifier) && key >= Qt::Key_A && key <= Qt::Key_Z)
        return QByteArray(1, static_cast<char>(key - 64));
    switch (key) {
    case Qt::Key_Return:
    case Qt::Key_Enter:
        return "\r";
    case Qt::Key_Backspace:
        return "\x7f";
    case Qt::Key_Delete:
        return "\033[3~";
    case Qt::Key_Escape:
        return "\033";
    default:
        break;
    }
    return text.toUtf8();
}

} // namespace vn
