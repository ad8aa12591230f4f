#pragma once

#include <QSyntaxHighlighter>

namespace vn {

// Colours JSON tokens in the assistant's editors: keys, string values, and
// numbers with the three literals. The colours are fixed so that a pasted sample
// reads the same in either theme.
class JsonHighlighter : public QSyntaxHighlighter {
    Q_OBJECT
public:
    using QSyntaxHighlighter::QSyntaxHighlighter;
    ~JsonHighlighter() override;

protected:
    void highlightBlock(const QString& text) override;
};

} // namespace vn
