#include "ui/views/TerminalView.h"

#include "ui/views/TerminalKeys.h"

#include <QApplication>
#include <QClipboard>
#include <QFontMetricsF>
#include <QInputMethod>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QScrollBar>
#include <QToolTip>
#include <QWheelEvent>

#include <algorithm>
#include <cmath>

namespace vn {

namespace {

constexpr int kScrollBarWidth = 14;
constexpr qreal kOriginX = 16;
constexpr qreal kOriginY = 12;
constexpr Qt::KeyboardModifiers kModifierMask =
    Qt::ShiftModifier | Qt::ControlModifier | Qt::AltModifier | Qt::MetaModifier;

void updateInputMethod(Qt::InputMethodQueries queries)
{
    if (QInputMethod* method = QGuiApplication::inputMethod())
        method->update(queries);
}

} // namespace

TerminalView::TerminalView(QWidget* parent)
    : QWidget(parent), m_parser(m_screen)
{
    m_screen.setObserver(this);
    setFocusPolicy(Qt::WheelFocus);
    setAttribute(Qt::WA_InputMethodEnabled);
    setMinimumHeight(90);
    m_scroll = new QScrollBar(Qt::Vertical, this);
    m_scroll->setObjectName(QStringLiteral("terminalHistoryScroll"));
    m_scroll->setFocusPolicy(Qt::NoFocus);
    connect(m_scroll, &QScrollBar::valueChanged, this, [this] { update(); });
    setToolTip(QStringLiteral("滚轮查看历史 · Ctrl + 滚轮调整字号"));
    // The cursor blinks only while the view can be seen: a hidden view (a
    // page behind another, the log shown instead) wakes nothing up.
    m_blinkTimer.setParent(this);   // a member: it leaves the children before the widget goes
    m_blinkTimer.setObjectName(QStringLiteral("terminalBlink"));
    m_blinkTimer.setInterval(500);
    connect(&m_blinkTimer, &QTimer::timeout, this, [this] {
        m_blinkOn = !m_blinkOn;
        if (isVisible() && hasFocus())
            update();
    });
    reset(QStringLiteral("utf-8"));
}

TerminalView::~TerminalView()
{
    m_screen.setObserver(nullptr);
}

qreal TerminalView::cellWidth() const
{
    return QFontMetricsF(font()).horizontalAdvance(QLatin1Char('M'));
}

qreal TerminalView::lineHeight() const
{
    return QFontMetricsF(font()).lineSpacing() * 1.15;
}

bool TerminalView::scrolledToLive() const
{
    return m_scroll->value() == m_scroll->maximum();
}

void TerminalView::scrollToLive()
{
    m_scroll->setValue(m_scroll->maximum());
}

void TerminalView::reset(const QString& encoding)
{
    const qint64 released = m_screen.history().bytes();
    m_parser.reset(encoding);
    m_screen.reset();
    m_preedit.clear();
    m_selection.clear();
    m_savedScroll = 0;
    updateScrollBar(true);
    update();
    if (released >= kReleaseNoticeBytes)
        Q_EMIT historyReleased();
}

void TerminalView::feed(const QByteArray& bytes)
{
    const bool atMax = scrolledToLive();
    const bool alternate = m_screen.alternateScreen();
    if (!bytes.isEmpty())
        m_selection.inputLine = false;
    m_parser.feed(bytes);
    updateScrollBar(atMax && alternate == m_screen.alternateScreen());
    // A hidden view keeps its grid and its scroll range, and paints nothing:
    // being shown paints it whole.
    if (!isVisible())
        return;
    update();
    if (hasFocus())
        updateInputMethod(Qt::ImCursorRectangle);
}

void TerminalView::resizeGrid()
{
    const bool atMax = scrolledToLive();
    const qreal cw = cellWidth();
    const qreal lh = lineHeight();
    const int cols = std::clamp(static_cast<int>((width() - 46) / cw), TerminalScreen::kMinCols,
                                TerminalScreen::kMaxCols);
    const int rows = std::clamp(static_cast<int>((height() - 24) / lh), TerminalScreen::kMinRows,
                                TerminalScreen::kMaxRows);
    const bool changed = m_screen.resize(cols, rows);
    if (changed)
        m_selection.inputLine = false;
    const int maxColumn = m_selection.keyboard ? cols : cols - 1;
    const int maxRow = m_screen.documentRows() - 1;
    for (QPoint* p : {&m_selection.anchor, &m_selection.end}) {
        p->setX(std::clamp(p->x(), 0, maxColumn));
        p->setY(std::clamp(p->y(), 0, maxRow));
    }
    updateScrollBar(atMax);
    if (hasFocus())
        updateInputMethod(Qt::ImCursorRectangle);
    if (changed)
        Q_EMIT gridSizeChanged(QSize(cols, rows));
}

void TerminalView::placeScrollBar()
{
    m_scroll->setGeometry(width() - kScrollBarWidth, 0, kScrollBarWidth, height());
}

void TerminalView::updateScrollBar(bool follow)
{
    // Placing it waits for the view to be shown (showEvent places it).
    if (isVisible())
        placeScrollBar();
    m_scroll->setRange(0, m_screen.historyRows());
    m_scroll->setPageStep(m_screen.rows());
    m_scroll->setSingleStep(1);
    m_scroll->setVisible(m_scroll->maximum() > 0);
    if (follow)
        m_scroll->setValue(m_scroll->maximum());
}

QString TerminalView::text() const
{
    QStringList out;
    for (const TerminalLine& line : m_screen.lines()) {
        QString s;
        s.reserve(line.size());
        for (const Cell& cell : line) {
            // A wide character is taken once; its second cell adds nothing.
            if (!cell.continuation)
                s += cell.character;
        }
        out.append(s.trimmed());
    }
    return out.join(u'\n');
}

QString TerminalView::visibleText() const
{
    QStringList out;
    const int top = m_scroll->value();
    const int cols = m_screen.cols();
    for (int i = 0; i < m_screen.rows(); ++i) {
        QString s;
        for (int c = 0; c < cols; ++c) {
            const Cell cell = m_screen.documentCell(top + i, c);
            if (!cell.continuation)
                s += cell.character;
        }
        qsizetype n = s.size();
        while (n > 0 && s.at(n - 1) == u' ')
            --n;
        s.truncate(n);
        out.append(s);
    }
    return out.join(u'\n');
}

// ---- what the screen reports -------------------------------------------------

void TerminalView::historyLineDropped()
{
    m_scroll->setValue(std::max(m_scroll->value() - 1, 0));
    if (!m_selection.active())
        return;
    if (m_selection.anchor.y() == 0 || m_selection.end.y() == 0) {
        clearSelection();
        return;
    }
    m_selection.anchor.ry() -= 1;
    m_selection.end.ry() -= 1;
}

void TerminalView::historyCleared(qint64 releasedBytes)
{
    clearSelection();
    updateScrollBar(true);
    if (releasedBytes >= kReleaseNoticeBytes)
        Q_EMIT historyReleased();
}

void TerminalView::alternateScreenSwitching(bool on, bool done)
{
    if (!done) {
        clearSelection();
        if (on)
            m_savedScroll = m_scroll->value();
        return;
    }
    if (on) {
        updateScrollBar(false);
        m_scroll->setValue(0);
    } else {
        resizeGrid();
        updateScrollBar(false);
        m_scroll->setValue(m_savedScroll);
    }
}

// ---- selection and clipboard -------------------------------------------------

void TerminalView::clearSelection()
{
    m_selection.clear();
    update();
}

QByteArray TerminalView::selectionDeletion() const
{
    const TerminalSelection& s = m_selection;
    if (!s.keyboard || !s.inputLine || !s.active())
        return {};
    const qint64 cursor = cursorPosition(m_screen);
    if (linearPosition(m_screen, s.anchor) != cursor)
        return {};
    const auto [lo, hi] = s.range(m_screen);
    const qint64 rowStart = qint64(m_screen.historyRows() + m_screen.cursor().y()) * m_screen.cols();
    if (lo < rowStart || hi > rowStart + m_screen.cols())
        return {};
    const qsizetype n = selectedText().toUcs4().size();
    if (n == 0)
        return {};
    const QByteArray one = cursor == hi ? QByteArray("\x7f") : QByteArray("\033[3~");
    return one.repeated(n);
}

void TerminalView::copySelection()
{
    const QString text = selectedText();
    if (!text.isEmpty())
        QGuiApplication::clipboard()->setText(text);
    clearSelection();
}

void TerminalView::pasteClipboard()
{
    if (!interactive)
        return;
    const QByteArray bytes = QGuiApplication::clipboard()->text().toUtf8();
    if (bytes.isEmpty())
        return;
    clearSelection();
    scrollToLive();
    Q_EMIT transmit(bytes);
}

QPoint TerminalView::cellAt(const QPointF& position) const
{
    const qreal cw = std::max<qreal>(cellWidth(), 1);
    const qreal lh = std::max<qreal>(lineHeight(), 1);
    const int col = std::clamp(static_cast<int>((position.x() - kOriginX) / cw), 0, m_screen.cols() - 1);
    const int row = std::clamp(static_cast<int>((position.y() - kOriginY) / lh), 0, m_screen.rows() - 1);
    return QPoint(col, row + m_scroll->value());
}

void TerminalView::sendBytes(const QByteArray& bytes)
{
    clearSelection();
    scrollToLive();
    Q_EMIT transmit(bytes);
}

bool TerminalView::selectWithKeyboard(QKeyEvent* event)
{
    const Qt::KeyboardModifiers m = event->modifiers();
    if (!keyboardSelection || !(m & Qt::ShiftModifier) || (m & (Qt::AltModifier | Qt::MetaModifier)))
        return false;
    SelectionStep step;
    switch (event->key()) {
    case Qt::Key_Home: step = SelectionStep::Home; break;
    case Qt::Key_End: step = SelectionStep::End; break;
    case Qt::Key_Left: step = SelectionStep::Left; break;
    case Qt::Key_Up: step = SelectionStep::Up; break;
    case Qt::Key_Right: step = SelectionStep::Right; break;
    case Qt::Key_Down: step = SelectionStep::Down; break;
    case Qt::Key_PageUp: step = SelectionStep::PageUp; break;
    case Qt::Key_PageDown: step = SelectionStep::PageDown; break;
    default: return false;
    }
    TerminalSelection& s = m_selection;
    const qint64 size = qint64(m_screen.cols()) * m_screen.documentRows();
    qint64 anchor = 0;
    qint64 end = 0;
    if (s.keyboard) {
        anchor = linearPosition(m_screen, s.anchor);
        end = linearPosition(m_screen, s.end);
    } else if (s.active()) {
        // The cells chosen with the mouse stay inside the caret range.
        s.inputLine = false;
        anchor = linearPosition(m_screen, s.anchor);
        end = linearPosition(m_screen, s.end);
        if (end < anchor)
            ++anchor;
        else
            ++end;
    } else {
        s.inputLine = interactive && scrolledToLive();
        anchor = end = cursorPosition(m_screen);
    }
    anchor = std::clamp<qint64>(anchor, 0, size);
    end = std::clamp<qint64>(moveSelectionEnd(m_screen, std::clamp<qint64>(end, 0, size), step,
                                              m & Qt::ControlModifier),
                             0, size);
    s.anchor = positionAt(m_screen, anchor);
    s.end = positionAt(m_screen, end);
    s.keyboard = true;
    s.mouseSelecting = false;
    s.shown = end != anchor;
    const int row = s.end.y();
    const int top = m_scroll->value();
    if (row < top)
        m_scroll->setValue(row);
    else if (row >= top + m_screen.rows())
        m_scroll->setValue(row - m_screen.rows() + 1);
    update();
    return true;
}

// ---- events ------------------------------------------------------------------

bool TerminalView::event(QEvent* event)
{
    if (event->type() == QEvent::KeyPress && interactive) {
        auto* key = static_cast<QKeyEvent*>(event);
        if ((key->key() == Qt::Key_Tab || key->key() == Qt::Key_Backtab)
            && !(key->modifiers() & (Qt::ControlModifier | Qt::AltModifier | Qt::MetaModifier))) {
            keyPressEvent(key);
            return true;
        }
    }
    return QWidget::event(event);
}

void TerminalView::keyPressEvent(QKeyEvent* event)
{
    const int key = event->key();
    const Qt::KeyboardModifiers m = event->modifiers() & kModifierMask;
    auto done = [event] { event->accept(); };

    // 1. Clipboard and cursor shape.
    if (key == Qt::Key_C && m == Qt::ControlModifier) {
        if (event->isAutoRepeat() && m_copyRepeat)
            return done();
        if (!event->isAutoRepeat())
            m_copyRepeat = false;
        if (copyShortcut && hasSelection()) {
            m_copyRepeat = true;
            copySelection();
            return done();
        }
    } else if (key == Qt::Key_Insert && m == Qt::ControlModifier && copyShortcut) {
        copySelection();
        return done();
    } else if (key == Qt::Key_C && m == (Qt::ControlModifier | Qt::ShiftModifier) && copyShortcut) {
        copySelection();
        return done();
    } else if (key == Qt::Key_V && m == (Qt::ControlModifier | Qt::ShiftModifier) && pasteShortcut) {
        pasteClipboard();
        return done();
    } else if (key == Qt::Key_Insert && m == Qt::ShiftModifier && pasteShortcut) {
        pasteClipboard();
        return done();
    } else if (key == Qt::Key_Insert && m == Qt::NoModifier) {
        m_blinkOn = true;
        blockCursor = !blockCursor;
        update();
        Q_EMIT cursorShapeChanged(blockCursor);
        return done();
    }

    // 2. Escape drops a selection.
    if (keyboardSelection && key == Qt::Key_Escape && hasSelection()) {
        clearSelection();
        return done();
    }
    // 3. Shift with the navigation keys selects.
    if (selectWithKeyboard(event))
        return done();
    // 4. The page takes the keys while the channel cannot.
    if (!interactive) {
        event->ignore();
        return;
    }
    // 5. Delete the selected part of the remote input line.
    if (keyboardSelection && hasSelection() && (key == Qt::Key_Backspace || key == Qt::Key_Delete)
        && !(m & (Qt::ControlModifier | Qt::AltModifier | Qt::MetaModifier))) {
        const QByteArray bytes = selectionDeletion();
        if (!bytes.isEmpty()) {
            clearSelection();
            Q_EMIT transmit(bytes);
        } else {
            QToolTip::showText(mapToGlobal(rect().center()),
                               QStringLiteral("只能删除从当前光标选中的同一行输入；历史输出选区可复制。"),
                               this);
        }
        return done();
    }
    // 6. The key table.
    const QByteArray bytes = terminalKeyBytes(key, event->modifiers(), event->text());
    if (!bytes.isEmpty())
        sendBytes(bytes);
    done();
}

void TerminalView::mousePressEvent(QMouseEvent* event)
{
    if (event->button() == Qt::LeftButton) {
        setFocus(Qt::MouseFocusReason);
        m_selection.keyboard = false;
        m_selection.anchor = m_selection.end = cellAt(event->position());
        m_selection.mouseSelecting = true;
        m_selection.shown = false;
        update();
        event->accept();
    } else if (event->button() == Qt::RightButton) {
        if (interactive && rightClickPaste) {
            setFocus(Qt::MouseFocusReason);
            pasteClipboard();
            event->accept();
        } else {
            event->ignore();
        }
    } else {
        QWidget::mousePressEvent(event);
    }
}

void TerminalView::mouseMoveEvent(QMouseEvent* event)
{
    if ((event->buttons() & Qt::LeftButton) && m_selection.mouseSelecting) {
        m_selection.end = cellAt(event->position());
        update();
        event->accept();
        return;
    }
    QWidget::mouseMoveEvent(event);
}

void TerminalView::mouseReleaseEvent(QMouseEvent* event)
{
    if (event->button() == Qt::LeftButton && m_selection.mouseSelecting) {
        m_selection.end = cellAt(event->position());
        m_selection.mouseSelecting = false;
        m_selection.shown = m_selection.end != m_selection.anchor;
        update();
        event->accept();
        return;
    }
    QWidget::mouseReleaseEvent(event);
}

void TerminalView::wheelEvent(QWheelEvent* event)
{
    event->accept();
    if (event->modifiers() & Qt::ControlModifier) {
        Q_EMIT zoomRequested(event->angleDelta().y() / 120);
        return;
    }
    if (m_screen.alternateScreen())
        return;
    int lines = 0;
    const int pixels = event->pixelDelta().y();
    if (pixels != 0) {
        const int height = std::max(QFontMetrics(font()).lineSpacing(), 1);
        lines = std::max(std::abs(pixels) / height, 1) * (pixels < 0 ? -1 : 1);
    } else {
        lines = event->angleDelta().y() / 120 * 3;
    }
    m_scroll->setValue(m_scroll->value() - lines);
}

void TerminalView::focusInEvent(QFocusEvent* event)
{
    QWidget::focusInEvent(event);
    updateInputMethod(Qt::ImEnabled | Qt::ImCursorRectangle);
}

void TerminalView::showEvent(QShowEvent* event)
{
    QWidget::showEvent(event);
    placeScrollBar();
    m_blinkOn = true;
    m_blinkTimer.start();
}

void TerminalView::hideEvent(QHideEvent* event)
{
    QWidget::hideEvent(event);
    m_blinkTimer.stop();
}

void TerminalView::resizeEvent(QResizeEvent* event)
{
    QWidget::resizeEvent(event);
    resizeGrid();
}

void TerminalView::changeEvent(QEvent* event)
{
    QWidget::changeEvent(event);
    if (event->type() == QEvent::FontChange) {
        resizeGrid();
        update();
    }
}

void TerminalView::inputMethodEvent(QInputMethodEvent* event)
{
    if (!interactive) {
        event->ignore();
        return;
    }
    m_preedit = event->preeditString();
    const QString commit = event->commitString();
    if (!commit.isEmpty())
        sendBytes(commit.toUtf8());
    update();
    updateInputMethod(Qt::ImCursorRectangle);
    event->accept();
}

QRectF TerminalView::cursorRectangle() const
{
    const qreal cw = cellWidth();
    const qreal lh = lineHeight();
    const QPoint c = m_screen.cursor();
    return QRectF(kOriginX + std::min(c.x(), m_screen.cols() - 1) * cw, kOriginY + c.y() * lh,
                  std::max<qreal>(cw, 2), lh);
}

QVariant TerminalView::inputMethodQuery(Qt::InputMethodQuery query) const
{
    switch (query) {
    case Qt::ImEnabled:
        return interactive;
    case Qt::ImCursorRectangle:
    case Qt::ImAnchorRectangle:
        return cursorRectangle();
    case Qt::ImFont:
        return font();
    case Qt::ImCursorPosition:
    case Qt::ImAnchorPosition:
        return m_screen.cursor().y() * m_screen.cols() + m_screen.cursor().x();
    default:
        return QWidget::inputMethodQuery(query);
    }
}

} // namespace vn
