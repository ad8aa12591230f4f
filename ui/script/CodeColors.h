#pragma once

#include <QColor>
#include <QSyntaxHighlighter>

namespace vn {

class CodeEdit;

// Colours frame-script text with a fixed list of patterns and carries an open
// block comment from one line to the next. The colour set follows the editor's
// text colour: light text means a dark theme.
class CodeColors : public QSyntaxHighlighter {
    Q_OBJECT
public:
    CodeColors(QTextDocument* document, CodeEdit* editor);

    // The colours of one theme, by what they mark.
    struct Palette {
        QColor keyword;
        QColor number;
        QColor function;
        QColor string;
        QColor comment;
    };
    static Palette palette(bool dark);

protected:
    void highlightBlock(const QString& text) override;

private:
    CodeEdit* editor;
};

} // namespace vn
