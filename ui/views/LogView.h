#pragma once

#include "ui/kit/Theme.h"
#include "ui/views/LogLines.h"
#include "ui/views/LogRenderer.h"
#include "ui/views/LogStreams.h"
#include "ui/views/SearchFilter.h"

#include <QJsonObject>
#include <QTextEdit>

namespace vn {

// The read-only colour log of a channel's journal events. Each direction and
// peer has its own decoding stream, so text split over several events and
// interleaved peers come out whole; SGR colours in the text are applied, other
// sequences are consumed. Lines that the line filter does not match are
// hidden. It never sends anything.
//
// What it holds lives in its lines (LogLines), apart from the document: a
// feed only interprets. The document is a rendering of the lines, brought up
// to date only while the view is seen and a bounded piece per turn of the
// event loop, so a hidden view lays nothing out and a busy one never holds
// the window for long.
class LogView : public QTextEdit {
    Q_OBJECT
public:
    static constexpr int kMaxLines = LogLines::kMaxLines;
    static constexpr qsizetype kMaxLineLength = LogStreams::kMaxRowLength;
    static constexpr int kMaxStreams = LogStreams::kMaxStreams;
    // What one turn of the event loop may spend on the document.
    static constexpr qint64 kRenderBudgetNanos = 6'000'000;

    using Stream = LogStream;

    explicit LogView(QWidget* parent = nullptr);
    ~LogView() override;

    Theme theme;
    bool transparentBackground = false;
    bool timestamps = true;
    bool hexMode = false;
    bool follow = true;
    QString encoding = QStringLiteral("utf-8");

    void feed(const QJsonObject& event);
    void reset();
    void setFilter(const SearchFilter& filter);
    const SearchFilter& filter() const { return m_lines.filter(); }
    void setWrapping(bool on);
    // A status row that no filter hides, for what the view did not get to
    // show; every stream starts afresh after it, so that nothing is joined
    // across the part that is missing.
    void markGap(const QString& message);
    // Every stream starts afresh, as after an event with "stream_reset".
    void restartStreams() { m_streams.clear(); }

    int streamCount() const { return m_streams.count(); }
    const LogLines& lines() const { return m_lines; }
    // The rows held, one a line, whether or not they are laid out yet.
    QString plainText() const;
    // The document shows the rows as they are held.
    bool isRendered() const { return m_renderer.upToDate(); }
    quint64 rowsLaidOut() const { return m_renderer.rowsLaidOut(); }

Q_SIGNALS:
    void zoomRequested(int steps);

protected:
    void wheelEvent(QWheelEvent* event) override;
    void paintEvent(QPaintEvent* event) override;
    void scrollContentsBy(int dx, int dy) override;
    void showEvent(QShowEvent* event) override;

private:
    LogStreams::Style style() const;
    void scheduleRender();
    void render();
    void scrollToEnd();
    void paintPlaceholder();

    LogLines m_lines;
    LogStreams m_streams{m_lines};
    LogRenderer m_renderer;
    bool m_renderScheduled = false;
};

} // namespace vn
