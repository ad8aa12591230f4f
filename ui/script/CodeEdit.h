#pragma once

#include <QPlainTextEdit>

namespace vn {

class CodeColors;

// The frame-script source editor: a line-number gutter, Tab as four spaces,
// and Enter that keeps the line's indentation (one level more after "{").
class CodeEdit : public QPlainTextEdit {
    Q_OBJECT
public:
    explicit CodeEdit(QWidget* parent = nullptr);

    // Attached by the host after the text is set; re-coloured on theme changes.
    void setHighlighter(CodeColors* colors) { highlighter = colors; }
    CodeColors* codeColors() const { return highlighter; }

    // Width of the gutter for the current block count.
    int gutterWidth() const;
    QWidget* lineGutter() const { return gutter; }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void changeEvent(QEvent* event) override;

private:
    void updateLayout();
    void updateGutter(const QRect& rect, int dy);
    void paintGutter();

    QWidget* gutter = nullptr;
    CodeColors* highlighter = nullptr;
};

} // namespace vn
