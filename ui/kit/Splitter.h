#pragma once

#include <QSplitter>
#include <QSplitterHandle>

namespace vn {

// A splitter handle with a quiet grip; a double-click shares the space equally.
class Grip : public QSplitterHandle {
public:
    Grip(Qt::Orientation orientation, QSplitter* parent);

protected:
    void mouseDoubleClickEvent(QMouseEvent* event) override;
    void paintEvent(QPaintEvent* event) override;
};

// A splitter with 8 px grips whose children cannot be collapsed away.
class Splitter : public QSplitter {
public:
    explicit Splitter(Qt::Orientation orientation, QWidget* parent = nullptr);

protected:
    QSplitterHandle* createHandle() override;
};

} // namespace vn
