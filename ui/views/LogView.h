#pragma once

#include "ui/kit/Theme.h"
#include "ui/views/AnsiState.h"
#include "ui/views/SearchFilter.h"

#include <QJsonObject>
#include <QMap>
#include <QTextBlock>
#include <QTextCharFormat>
#include <QTextCursor>
#include <QTextEdit>

#include <memory>

namespace vn {

class StreamDecoder;

// The read-only colour log of a channel's journal events. Each direction and
// peer has its own decoding stream, so text split over several events and
// interleaved peers come out whole; SGR colours in the text are applied, other
// sequences are consumed. Lines that the line filter does not match are
// hidden. It never sends anything.
class LogView : public QTextEdit {
    Q_OBJECT
public:
    static constexpr int kMaxLines = 4000;
    // The most characters one line shows after its prefix. A longer line goes
    // on in a continuation line of the same direction and peer, so that
    // laying out and filtering the line it grows in costs the same however
    // long the device's line is.
    static constexpr qsizetype kMaxLineLength = 4096;

    // The decoding state of one direction and peer.
    struct Stream {
        Stream();
        ~Stream();
        Stream(const Stream&) = delete;
        Stream& operator=(const Stream&) = delete;

        std::unique_ptr<StreamDecoder> decoder;
        AnsiState attributes;
        QString escape;
        bool osc = false;
        // The open line as a running line number since the last reset (-1: none).
        // A number rather than a block handle, so that a line the 4000-line
        // limit removed is recognised as gone instead of aliasing a newer block.
        qint64 line = -1;
        bool afterCr = false;
        // Characters written to the open line after its prefix.
        qsizetype length = 0;
    };

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
    const SearchFilter& filter() const { return m_filter; }
    void setWrapping(bool on);

    int streamCount() const { return static_cast<int>(m_streams.size()); }

Q_SIGNALS:
    void zoomRequested(int steps);

protected:
    void wheelEvent(QWheelEvent* event) override;
    void paintEvent(QPaintEvent* event) override;
    void scrollContentsBy(int dx, int dy) override;

private:
    struct Prefix {
        QString time;
        QString direction;
        QString peer;
    };
    void interpret(Stream& stream, QStringView text, const Prefix& prefix);
    QTextBlock openBlock(const Stream& stream) const;
    QTextBlock openLine(Stream& stream, const Prefix& prefix, bool continuation = false);
    void write(Stream& stream, QStringView run, const Prefix& prefix);
    void appendRun(Stream& stream, const QTextBlock& block, QStringView run, const QString& direction);
    void evaluate(QTextBlock block);
    void scrollToEnd();
    void paintPlaceholder();
    void openBatch();
    void closeBatch();

    SearchFilter m_filter;
    QString m_filterText;
    QMap<QString, std::shared_ptr<Stream>> m_streams;
    qint64 m_linesOpened = 0;   // lines started since the last reset
    // The events of one tick are written as one edit of the document, so the
    // text engine lays it out once per tick rather than once per event; every
    // insertion of the tick goes through this one cursor.
    QTextCursor m_batch;
    bool m_batchOpen = false;
    int m_batchScroll = 0;
    QTextCharFormat m_prefixFormat;   // built again only when the theme's muted colour changes
};

} // namespace vn
