#include "ui/controls/CanvasLayout.h"

#include "ui/controls/CanvasGeometry.h"

#include <QGridLayout>
#include <QLabel>
#include <QScrollArea>

#include <algorithm>

namespace vn {

CanvasLayout::CanvasLayout(QWidget* canvas, QGridLayout* grid, QScrollArea* scroll, ControlRows& rows)
    : m_canvas(canvas), m_grid(grid), m_scroll(scroll), m_rows(rows)
{
}

void CanvasLayout::clearGrid()
{
    while (QLayoutItem* item = m_grid->takeAt(0))
        delete item;
}

void CanvasLayout::arrange(int choice, int panelWidth)
{
    const int mode = arrangeMode(choice, panelWidth);
    const int previous = appliedColumns;
    appliedColumns = mode;
    if (mode != previous) {
        clearGrid();
        for (int r = 0; r < m_grid->rowCount(); ++r)
            m_grid->setRowStretch(r, 0);
        m_grid->setColumnStretch(0, mode == 0 ? 0 : 1);
        m_grid->setColumnStretch(1, mode == 2 ? 1 : 0);
    }
    for (const auto& row : m_rows)
        if (row->card)
            row->card->setFreeLayout(mode == 0);

    if (mode != 0) {
        if (mode == previous)
            return;
        m_canvas->setMinimumSize(0, 0);
        if (emptyNotice)
            m_grid->addWidget(emptyNotice, 0, 0, 1, mode);
        const int n = int(m_rows.size());
        for (int i = 0; i < n; ++i)
            if (m_rows[std::size_t(i)]->card)
                m_grid->addWidget(m_rows[std::size_t(i)]->card, i / mode, i % mode);
        m_grid->setRowStretch((n + mode - 1) / mode + 1, 1);
        return;
    }

    const FreeGrid grid = freeGrid(m_scroll->viewport()->width(), geometryRemembered, referenceWidth);
    for (std::size_t i = 0; i < m_rows.size(); ++i) {
        ControlCard* card = m_rows[i]->card;
        if (card)
            card->setGeometry(freeCardRect(int(i), m_rows[i]->control, grid, card->minimumSize()));
    }
    if (emptyNotice)
        emptyNotice->setGeometry(8, 8, grid.width - 16, 64);
    updateExtent();
}

int CanvasLayout::layerOf(const QWidget* card) const
{
    return int(m_canvas->children().indexOf(const_cast<QWidget*>(card)));
}

void CanvasLayout::rememberGeometry()
{
    if (appliedColumns != 0)
        return;
    geometryRemembered = true;
    referenceWidth = std::max(kNarrowestCanvas, m_scroll->viewport()->width() - kCardGap);
    for (const auto& row : m_rows) {
        if (!row->card)
            continue;
        const QRect g = row->card->geometry();
        row->control.insert(QStringLiteral("rect"), QJsonObject{{QStringLiteral("x"), g.x()},
                                                               {QStringLiteral("y"), g.y()},
                                                               {QStringLiteral("width"), g.width()},
                                                               {QStringLiteral("height"), g.height()}});
        row->control.insert(QStringLiteral("layer"), layerOf(row->card));
    }
}

QJsonObject CanvasLayout::storedRecord(const ControlRow& row) const
{
    QJsonObject record = row.control;
    if (appliedColumns == 0 && row.card
        && (geometryRemembered || record.contains(QStringLiteral("rect")))) {
        const QRect g = row.card->geometry();
        record.insert(QStringLiteral("rect"), QJsonObject{{QStringLiteral("x"), g.x()},
                                                          {QStringLiteral("y"), g.y()},
                                                          {QStringLiteral("width"), g.width()},
                                                          {QStringLiteral("height"), g.height()}});
        // Until the geometry is recorded the cards stand as their stored
        // layers put them, and the other records keep those layers; a
        // canvas position here would be on another scale and restack the
        // cards at the next restore.
        if (geometryRemembered)
            record.insert(QStringLiteral("layer"), layerOf(row.card));
    }
    return record;
}

void CanvasLayout::updateExtent()
{
    if (appliedColumns != 0)
        return;
    int width = 0;
    int height = 0;
    for (const auto& row : m_rows) {
        if (!row->card)
            continue;
        const QRect g = row->card->geometry();
        width = std::max(width, g.right() + 9);
        height = std::max(height, g.bottom() + 9);
    }
    m_canvas->setMinimumSize(width, height);
}

void CanvasLayout::clear()
{
    clearGrid();
    for (const auto& row : m_rows) {
        if (ControlCard* card = row->card) {
            // Silence the card and everything in it: its connections point at a
            // row that may be gone before the deferred deletion runs.
            card->blockSignals(true);
            for (QObject* child : card->findChildren<QObject*>())
                child->blockSignals(true);
            card->hide();
            card->setParent(m_scroll);
            card->deleteLater();
        }
        row->card = nullptr;
        row->preview = nullptr;
        row->previewToggle = nullptr;
        row->sendButton = nullptr;
        row->autoSend = nullptr;
    }
    delete emptyNotice.data();
    emptyNotice = nullptr;
    appliedColumns = -1;
    m_canvas->setMinimumSize(0, 0);
}

void CanvasLayout::showEmptyNotice()
{
    auto* notice = new QLabel(QStringLiteral("当前组还没有控件，点击“添加控件”或选择“常用控件组”。"), m_canvas);
    notice->setObjectName(QStringLiteral("controlEmptyNotice"));
    notice->setWordWrap(true);
    notice->show();
    emptyNotice = notice;
}

void CanvasLayout::forget()
{
    geometryRemembered = false;
    referenceWidth = 0;
}

} // namespace vn
