#pragma once

#include <QChar>
#include <QString>

namespace vn {

// A strict, hand-written JSON checker that stops at the first fault and keeps
// where it was found, so the user gets an exact line and column in Chinese.
// Lives only for one check; the text is the caller's and is not trimmed.
class JsonSyntax {
public:
    // Values may nest to this depth (the top value is depth 0).
    static constexpr int MaxDepth = 128;

    explicit JsonSyntax(const QString& analysed) : text(&analysed) {}

    void whitespace();
    bool take(QChar c);
    bool string();
    bool value(int depth);

    const QString* text;
    qsizetype position = 0;
    QString error;

private:
    bool atEnd() const { return position >= text->size(); }
    QChar current() const { return text->at(position); }
    bool fail(const QString& message);
    bool object(int depth);
    bool array(int depth);
    bool number();
};

} // namespace vn
