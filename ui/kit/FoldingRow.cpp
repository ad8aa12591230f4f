#include "ui/kit/FoldingRow.h"

#include <QWidget>

#include <algorithm>

namespace vn {

namespace {

struct Slot {
    int minimum = 0;
    int maximum = 0;
    int size = 0;
    int weight = 0;
};

// Hands `extra` pixels to the slots by weight, never past a slot's maximum;
// what a full slot cannot take goes round to the others.
int share(QList<Slot*> open, int extra)
{
    while (extra > 0 && !open.isEmpty()) {
        int total = 0;
        for (const Slot* slot : std::as_const(open))
            total += slot->weight;
        bool capped = false;
        for (qsizetype index = open.size() - 1; index >= 0; --index) {
            Slot* slot = open.at(index);
            const int room = slot->maximum - slot->size;
            if (int(qint64(extra) * slot->weight / total) >= room) {
                slot->size += room;
                extra -= room;
                open.removeAt(index);
                capped = true;
            }
        }
        if (capped)
            continue;
        int given = 0;
        for (Slot* slot : std::as_const(open)) {
            const int part = int(qint64(extra) * slot->weight / total);
            slot->size += part;
            given += part;
        }
        extra -= given;
        for (Slot* slot : std::as_const(open)) {
            if (extra <= 0)
                break;
            if (slot->size < slot->maximum) {
                ++slot->size;
                --extra;
            }
        }
        if (given == 0 && extra > 0)
            break; // every open slot is full to the pixel
    }
    return extra;
}

} // namespace

FoldingRow::FoldingRow(QWidget* parent) : QLayout(parent)
{
    setSpacing(8);
}

FoldingRow::~FoldingRow()
{
    while (QLayoutItem* item = takeAt(0))
        delete item;
}

void FoldingRow::insertPart(int index, QLayoutItem* item, int stretch, Placement placement)
{
    if (index < 0 || index > m_parts.size())
        index = int(m_parts.size());
    m_parts.insert(index, Part{item, stretch, placement, item->spacerItem() != nullptr});
    invalidate();
}

void FoldingRow::addWidget(QWidget* widget, int stretch, Placement placement)
{
    insertWidget(-1, widget, stretch, placement);
}

void FoldingRow::insertWidget(int index, QWidget* widget, int stretch, Placement placement)
{
    addChildWidget(widget);
    insertPart(index, new QWidgetItem(widget), stretch, placement);
}

void FoldingRow::addSpacing(int size)
{
    insertPart(-1, new QSpacerItem(size, 0, QSizePolicy::Fixed, QSizePolicy::Minimum), 0, InRow);
}

void FoldingRow::addStretch(int stretch)
{
    insertPart(-1, new QSpacerItem(0, 0, QSizePolicy::Expanding, QSizePolicy::Minimum), stretch, InRow);
}

void FoldingRow::setLineSpacing(int pixels)
{
    m_lineSpacing = std::max(0, pixels);
    invalidate();
}

void FoldingRow::addItem(QLayoutItem* item)
{
    insertPart(-1, item, 0, InRow);
}

int FoldingRow::count() const
{
    return int(m_parts.size());
}

QLayoutItem* FoldingRow::itemAt(int index) const
{
    return index >= 0 && index < m_parts.size() ? m_parts.at(index).item : nullptr;
}

QLayoutItem* FoldingRow::takeAt(int index)
{
    if (index < 0 || index >= m_parts.size())
        return nullptr;
    QLayoutItem* item = m_parts.takeAt(index).item;
    invalidate();
    return item;
}

int FoldingRow::gap() const
{
    return std::max(0, spacing());
}

bool FoldingRow::shown(int index) const
{
    const Part& part = m_parts.at(index);
    return part.spacer || !part.item->isEmpty();
}

bool FoldingRow::isSpacer(int index) const
{
    return m_parts.at(index).spacer;
}

// Spacers take their own width and no spacing, as in a box layout; a spacing
// stands between two parts that are not spacers.
int FoldingRow::minimumWidthOf(const Line& line) const
{
    int width = 0;
    bool partBefore = false;
    for (const int index : line) {
        if (!isSpacer(index)) {
            if (partBefore)
                width += gap();
            partBefore = true;
        }
        width += m_parts.at(index).item->minimumSize().width();
    }
    return width;
}

int FoldingRow::heightOf(const Line& line) const
{
    int height = 0;
    for (const int index : line) {
        const QLayoutItem* item = m_parts.at(index).item;
        height = std::max(height, std::clamp(item->sizeHint().height(), item->minimumSize().height(),
                                             std::max(item->minimumSize().height(), item->maximumSize().height())));
    }
    return height;
}

QList<FoldingRow::Line> FoldingRow::flow(const Line& parts, int width) const
{
    QList<Line> lines;
    Line current;
    const auto finish = [&] {
        while (!current.isEmpty() && isSpacer(current.constFirst()))
            current.removeFirst();
        while (!current.isEmpty() && isSpacer(current.constLast()))
            current.removeLast();
        if (!current.isEmpty())
            lines.append(current);
        current.clear();
    };
    for (const int index : parts) {
        Line tried = current;
        tried.append(index);
        const bool hasPart = std::any_of(current.cbegin(), current.cend(), [this](int each) { return !isSpacer(each); });
        if (hasPart && minimumWidthOf(tried) > width) {
            if (isSpacer(index))
                continue; // a spacing at a break is dropped
            finish();
            current.append(index);
        } else {
            current = tried;
        }
    }
    finish();
    return lines;
}

QList<FoldingRow::Line> FoldingRow::linesFor(int innerWidth) const
{
    Line all;
    for (int index = 0; index < m_parts.size(); ++index) {
        if (shown(index))
            all.append(index);
    }
    if (minimumWidthOf(all) <= innerWidth)
        return {all};
    Line inRow;
    Line own;
    for (const int index : std::as_const(all))
        (m_parts.at(index).placement == OwnLineWhenFolded ? own : inRow).append(index);
    QList<Line> lines = flow(inRow, innerWidth);
    lines.append(flow(own, innerWidth));
    return lines;
}

int FoldingRow::oneLineWidth() const
{
    Line all;
    for (int index = 0; index < m_parts.size(); ++index) {
        if (shown(index))
            all.append(index);
    }
    const QMargins margins = contentsMargins();
    return minimumWidthOf(all) + margins.left() + margins.right();
}

int FoldingRow::lineCount(int width) const
{
    const QMargins margins = contentsMargins();
    return int(linesFor(width - margins.left() - margins.right()).size());
}

QSize FoldingRow::sizeHint() const
{
    int width = 0;
    int height = 0;
    bool partBefore = false;
    Line all;
    for (int index = 0; index < m_parts.size(); ++index) {
        if (!shown(index))
            continue;
        all.append(index);
        if (!isSpacer(index)) {
            if (partBefore)
                width += gap();
            partBefore = true;
        }
        width += m_parts.at(index).item->sizeHint().width();
    }
    height = heightOf(all);
    const QMargins margins = contentsMargins();
    return {width + margins.left() + margins.right(), height + margins.top() + margins.bottom()};
}

// Folded as far as it goes, the row is as wide as its widest part.
QSize FoldingRow::minimumSize() const
{
    int width = 0;
    int height = 0;
    for (int index = 0; index < m_parts.size(); ++index) {
        if (!shown(index) || isSpacer(index))
            continue;
        const QSize least = m_parts.at(index).item->minimumSize();
        width = std::max(width, least.width());
        height = std::max(height, least.height());
    }
    const QMargins margins = contentsMargins();
    return {width + margins.left() + margins.right(), height + margins.top() + margins.bottom()};
}

Qt::Orientations FoldingRow::expandingDirections() const
{
    Qt::Orientations directions;
    for (int index = 0; index < m_parts.size(); ++index) {
        if (shown(index) && !isSpacer(index))
            directions |= m_parts.at(index).item->expandingDirections();
    }
    return directions;
}

bool FoldingRow::hasHeightForWidth() const
{
    return true;
}

int FoldingRow::heightForWidth(int width) const
{
    if (width == m_cachedWidth)
        return m_cachedHeight;
    const QMargins margins = contentsMargins();
    const QList<Line> lines = linesFor(width - margins.left() - margins.right());
    int height = margins.top() + margins.bottom();
    for (qsizetype index = 0; index < lines.size(); ++index)
        height += heightOf(lines.at(index)) + (index > 0 ? m_lineSpacing : 0);
    m_cachedWidth = width;
    m_cachedHeight = height;
    return height;
}

void FoldingRow::invalidate()
{
    m_cachedWidth = -1;
    QLayout::invalidate();
}

void FoldingRow::place(const Line& line, const QRect& area) const
{
    QList<Slot> slots;
    slots.reserve(line.size());
    int spacings = 0;
    int hinted = 0;
    bool partBefore = false;
    for (const int index : line) {
        const Part& part = m_parts.at(index);
        if (!isSpacer(index)) {
            if (partBefore)
                spacings += gap();
            partBefore = true;
        }
        Slot slot;
        slot.minimum = part.item->minimumSize().width();
        slot.maximum = std::max(slot.minimum, part.item->maximumSize().width());
        slot.size = std::clamp(part.item->sizeHint().width(), slot.minimum, slot.maximum);
        slots.append(slot);
        hinted += slot.size;
    }
    const int room = area.width() - spacings;
    if (hinted <= room) {
        QList<Slot*> stretched;
        QList<Slot*> expanding;
        for (qsizetype at = 0; at < line.size(); ++at) {
            const Part& part = m_parts.at(line.at(at));
            if (part.stretch > 0) {
                slots[at].weight = part.stretch;
                stretched.append(&slots[at]);
            } else if (part.item->expandingDirections() & Qt::Horizontal) {
                slots[at].weight = 1;
                expanding.append(&slots[at]);
            }
        }
        share(expanding, share(stretched, room - hinted));
    } else {
        // Short of room: every part gives up the same share of what it could lose.
        int spare = 0;
        for (const Slot& slot : std::as_const(slots))
            spare += slot.size - slot.minimum;
        const int deficit = std::min(spare, hinted - room);
        int taken = 0;
        for (Slot& slot : slots) {
            if (spare <= 0)
                break;
            const int cut = int(qint64(slot.size - slot.minimum) * deficit / spare);
            slot.size -= cut;
            taken += cut;
        }
        for (Slot& slot : slots) {
            if (taken >= deficit)
                break;
            if (slot.size > slot.minimum) {
                --slot.size;
                ++taken;
            }
        }
    }
    int x = area.x();
    partBefore = false;
    for (qsizetype at = 0; at < line.size(); ++at) {
        const int index = line.at(at);
        if (!isSpacer(index)) {
            if (partBefore)
                x += gap();
            partBefore = true;
        }
        m_parts.at(index).item->setGeometry(QRect(x, area.y(), slots.at(at).size, area.height()));
        x += slots.at(at).size;
    }
}

void FoldingRow::setGeometry(const QRect& rect)
{
    QLayout::setGeometry(rect);
    const QRect inner = rect.marginsRemoved(contentsMargins());
    const QList<Line> lines = linesFor(inner.width());
    if (lines.size() == 1) {
        place(lines.constFirst(), inner);
        return;
    }
    int y = inner.y();
    for (const Line& line : lines) {
        const int height = heightOf(line);
        place(line, QRect(inner.x(), y, inner.width(), height));
        y += height + m_lineSpacing;
    }
}

} // namespace vn
