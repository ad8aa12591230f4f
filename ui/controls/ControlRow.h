#pragma once

#include <QCheckBox>
#include <QElapsedTimer>
#include <QJsonObject>
#include <QLabel>
#include <QPointer>
#include <QPushButton>
#include <QToolButton>

#include "core/Channel.h"
#include "ui/controls/ControlCard.h"

namespace vn {

// One control of the group on show: its live record and the widgets of its
// card. The card belongs to the canvas; the row only points at it, through
// guarded pointers, so a row never reaches a card that is gone.
struct ControlRow {
    explicit ControlRow(const QJsonObject& record) : control(record) {}

    QJsonObject control;
    QPointer<ControlCard> card;
    QPointer<QLabel> preview;
    QPointer<QToolButton> previewToggle;
    QPointer<QPushButton> sendButton;
    QPointer<QCheckBox> autoSend;
    // The automatic send armed for this row, and when the last paced send left.
    QPointer<Channel> pendingChannel;
    int pendingGeneration = -1;
    bool pending = false;
    QElapsedTimer lastSent;
};

} // namespace vn
