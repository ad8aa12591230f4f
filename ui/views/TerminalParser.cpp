#include "ui/views/TerminalParser.h"

#include "core/StreamDecoder.h"
#include "ui/views/TerminalScreen.h"

namespace vn {

namespace {
constexpr QChar kEsc = QChar(0x1B);
}

TerminalParser::TerminalParser(TerminalScreen& screen) : m_screen(screen)
{
    reset(QStringLiteral("utf-8"));
}

TerminalParser::~TerminalParser() = default;

void TerminalParser::reset(const QString& encoding)
{
    m_decoder = std::make_unique<StreamDecoder>(encoding);
    m_escape.clear();
    m_osc = false;
}

void TerminalParser::feed(const QByteArray& bytes)
{
    if (bytes.isEmpty())
        return;
    feedText(m_decoder->decode(bytes));
}

void TerminalParser::feedText(QStringView text)
{
    const qsizetype n = text.size();
    qsizetype i = 0;
    while (i < n) {
        const QChar ch = text[i];
        if (!m_escape.isEmpty()) {
            sequence(ch);
            ++i;
            continue;
        }
        const char16_t u = ch.unicode();
        if (u >= 0x20) {
            // Hand a whole run of printable text to the screen at once.
            qsizetype end = i + 1;
            while (end < n && text[end].unicode() >= 0x20)
                ++end;
            m_screen.printRun(text.sliced(i, end - i));
            i = end;
            continue;
        }
        switch (u) {
        case 0x1B:
            m_escape = kEsc;
            break;
        case u'\r':
            m_screen.carriageReturn();
            break;
        case u'\n':
            m_screen.lineFeed();
            break;
        case 0x08:
            m_screen.backspace();
            break;
        case u'\t':
            m_screen.tab();
            break;
        default:
            break;
        }
        ++i;
    }
}

void TerminalParser::sequence(QChar ch)
{
    m_escape += ch;
    const qsizetype size = m_escape.size();
    if (m_osc) {
        // The content (window titles and the like) is never shown.
        if (ch == QChar(0x07) || m_escape.endsWith(QStringLiteral("\x1b\\")) || size > kOscLimit) {
            m_escape.clear();
            m_osc = false;
        }
        return;
    }
    const QChar second = m_escape.at(1);
    if (size == 2 && second == u']') {
        m_osc = true;
        return;
    }
    const char16_t u = ch.unicode();
    if (second == u'[' && size > 2 && u >= 0x40 && u <= 0x7E) {
        const QString parameters = m_escape.mid(2, size - 3);
        m_escape.clear();
        m_screen.csi(ch, parameters);
        return;
    }
    const bool designation = second == u'(' || second == u')' || second == u'*' || second == u'+';
    if (size == 3 && designation) {
        m_escape.clear();   // character sets are not switched
        return;
    }
    if (size == 2 && ch != u'[') {
        if (!designation) {
            m_escape.clear();
            m_screen.escape(ch);
        }
        return;
    }
    if (size > kSequenceLimit)
        m_escape.clear();
}

} // namespace vn
