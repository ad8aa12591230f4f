#pragma once

#include "ui/kit/Theme.h"
#include "ui/views/AnsiState.h"
#include "ui/views/TerminalParser.h"
#include "ui/views/TerminalScreen.h"
#include "ui/views/TerminalSelection.h"

#include <QByteArray>
#include <QSize>
#include <QString>
#include <QTimer>
#include <QWidget>

class QScrollBar;

namespace vn {

// A connection shown as a live character terminal. The page hands it the
// received bytes (`feed`); what the user types, pastes or commits leaves as
// UTF-8 through `transmit`. The view never answers the host by itself.
// The grid and the interpreter live in TerminalScreen and TerminalParser,
// which know nothing of painting; this widget adds the scroll-back bar,
// selection, input and painting.
class TerminalView : public QWidget, private TerminalScreen::Observer {
    Q_OBJECT
public:
    using Cell = TerminalCell;

    // A reset or ESC[3J that drops at least this much history says so
    // (historyReleased), so that the window can give the memory back.
    static constexpr qint64 kReleaseNoticeBytes = 512 * 1024;

    explicit TerminalView(QWidget* parent = nullptr);
    ~TerminalView() override;

    Theme theme;
    bool transparentBackground = false;

    // Input options the session page sets.
    bool interactive = false;
    bool blockCursor = true;
    bool keyboardSelection = false;
    bool copyShortcut = true;
    bool pasteShortcut = true;
    bool rightClickPaste = true;

    void feed(const QByteArray& bytes);
    void reset(const QString& encoding);
    void resizeGrid();

    Cell documentCell(int row, int column) const { return m_screen.documentCell(row, column); }
    void updateScrollBar(bool follow);

    QString text() const;
    QString visibleText() const;

    const TerminalScreen& screen() const { return m_screen; }
    QScrollBar* historyScrollBar() const { return m_scroll; }
    int cols() const { return m_screen.cols(); }
    int rows() const { return m_screen.rows(); }
    QString preeditText() const { return m_preedit; }

    // Selection and clipboard.
    std::pair<qint64, qint64> selectionRange() const { return m_selection.range(m_screen); }
    bool hasSelection() const { return m_selection.active(); }
    const TerminalSelection& selection() const { return m_selection; }
    void clearSelection();
    QString selectedText() const { return m_selection.text(m_screen); }
    QByteArray selectionDeletion() const;
    void copySelection();
    void pasteClipboard();
    // The document position under a point of the widget.
    QPoint cellAt(const QPointF& position) const;

Q_SIGNALS:
    void cursorShapeChanged(bool block);
    void zoomRequested(int steps);
    void transmit(const QByteArray& bytes);
    void gridSizeChanged(const QSize& size);
    // A reset or ESC[3J dropped a long history (kReleaseNoticeBytes or more).
    void historyReleased();

protected:
    bool event(QEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void wheelEvent(QWheelEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void focusInEvent(QFocusEvent* event) override;
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void showEvent(QShowEvent* event) override;
    void hideEvent(QHideEvent* event) override;
    void changeEvent(QEvent* event) override;
    void inputMethodEvent(QInputMethodEvent* event) override;

public:
    QVariant inputMethodQuery(Qt::InputMethodQuery query) const override;

private:
    friend class TerminalPainter;

    // TerminalScreen::Observer
    void historyLineDropped() override;
    void historyCleared(qint64 releasedBytes) override;
    void alternateScreenSwitching(bool on, bool done) override;

    bool selectWithKeyboard(QKeyEvent* event);
    void placeScrollBar();
    bool scrolledToLive() const;
    void scrollToLive();
    void sendBytes(const QByteArray& bytes);
    QRectF cursorRectangle() const;
    qreal cellWidth() const;
    qreal lineHeight() const;

    TerminalScreen m_screen;
    TerminalParser m_parser;
    TerminalSelection m_selection;
    QScrollBar* m_scroll = nullptr;
    QTimer m_blinkTimer;
    bool m_blinkOn = true;
    bool m_copyRepeat = false;
    QString m_preedit;
    int m_savedScroll = 0;   // the history position when the alternate screen was entered
};

} // namespace vn
