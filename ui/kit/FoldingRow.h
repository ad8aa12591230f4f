#pragma once

#include <QLayout>
#include <QList>

namespace vn {

// A horizontal row of parts that breaks into lines instead of letting its
// parts overlap when it is narrower than they are. While every visible part
// fits at its minimum width it lays them out as a horizontal box layout does
// (stretch factors, fixed spacings, stretches). Narrower, the parts added with
// OwnLineWhenFolded leave the row for a line of their own at the bottom, and
// the others flow over as many lines as they need, breaking between parts in
// their order; spacings and stretches at a break vanish. The height follows
// the width (height-for-width), so the owner grows by the lines it gets.
class FoldingRow : public QLayout {
    Q_OBJECT
public:
    enum Placement { InRow, OwnLineWhenFolded };

    explicit FoldingRow(QWidget* parent = nullptr);
    ~FoldingRow() override;

    void addWidget(QWidget* widget, int stretch = 0, Placement placement = InRow);
    void insertWidget(int index, QWidget* widget, int stretch = 0, Placement placement = InRow);
    void addSpacing(int size);
    void addStretch(int stretch = 0);

    // Vertical distance between lines once the row has folded.
    void setLineSpacing(int pixels);
    int lineSpacing() const { return m_lineSpacing; }

    // The narrowest outer width (margins included) at which every visible
    // part still stands on one line; below it the row folds.
    int oneLineWidth() const;
    // How many lines the row takes at this outer width.
    int lineCount(int width) const;

    void addItem(QLayoutItem* item) override;
    int count() const override;
    QLayoutItem* itemAt(int index) const override;
    QLayoutItem* takeAt(int index) override;
    QSize sizeHint() const override;
    QSize minimumSize() const override;
    Qt::Orientations expandingDirections() const override;
    bool hasHeightForWidth() const override;
    int heightForWidth(int width) const override;
    void setGeometry(const QRect& rect) override;
    void invalidate() override;

private:
    struct Part {
        QLayoutItem* item = nullptr;
        int stretch = 0;
        Placement placement = InRow;
        bool spacer = false;
    };
    using Line = QList<int>; // indices into m_parts

    void insertPart(int index, QLayoutItem* item, int stretch, Placement placement);
    int gap() const;
    bool shown(int index) const;
    bool isSpacer(int index) const;
    int minimumWidthOf(const Line& line) const;
    int heightOf(const Line& line) const;
    QList<Line> flow(const Line& parts, int width) const;
    QList<Line> linesFor(int innerWidth) const;
    void place(const Line& line, const QRect& area) const;

    QList<Part> m_parts;
    int m_lineSpacing = 6;
    mutable int m_cachedWidth = -1;
    mutable int m_cachedHeight = 0;
};

} // namespace vn
