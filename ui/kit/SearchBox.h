#pragma once

#include <QLineEdit>

namespace vn {

class IconButton;

// A line edit with a search glyph on the left and a clear button on the right
// that shows only while there is text.
class SearchBox : public QLineEdit {
    Q_OBJECT
public:
    explicit SearchBox(QWidget* parent = nullptr);

    IconButton* clearButton() const { return m_clear; }

protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

private:
    IconButton* m_clear;
};

} // namespace vn
