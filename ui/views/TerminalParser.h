#pragma once

#include <QByteArray>
#include <QString>
#include <QStringView>

#include <memory>

namespace vn {

class StreamDecoder;
class TerminalScreen;

// Turns received bytes into operations on a TerminalScreen: decodes them with
// a StreamDecoder (a character split across two deliveries is decoded whole)
// and interprets control characters and escape sequences. The state lasts
// across feeds, so a sequence split between deliveries is read whole.
// It never answers the host.
class TerminalParser {
public:
    static constexpr int kSequenceLimit = 128;
    static constexpr int kOscLimit = 4096;

    explicit TerminalParser(TerminalScreen& screen);
    ~TerminalParser();
    TerminalParser(const TerminalParser&) = delete;
    TerminalParser& operator=(const TerminalParser&) = delete;

    // Chooses the decoder (unknown names decode as UTF-8) and forgets any open
    // sequence. The screen is not touched.
    void reset(const QString& encoding);
    void feed(const QByteArray& bytes);
    void feedText(QStringView text);

    bool insideSequence() const { return !m_escape.isEmpty(); }

private:
    void sequence(QChar ch);

    TerminalScreen& m_screen;
    std::unique_ptr<StreamDecoder> m_decoder;
    QString m_escape;
    bool m_osc = false;
};

} // namespace vn
