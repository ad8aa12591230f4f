#pragma once

#include <QFrame>
#include <QJsonObject>

class QLabel;
class QSplitter;
class QTreeWidget;

namespace vn {

class Channel;
class IconButton;

// The frame-script results under a serial page's receive views: one row per
// frame the channel's script emitted, read by cursor from the channel, at most
// 200 rows. Clearing hides what was emitted so far without touching the
// channel's records; the panel collapses to its header and remembers its height.
class ScriptResultsPanel : public QFrame {
    Q_OBJECT
public:
    static constexpr int MaxRows = 200;
    static constexpr int MinHeight = 96;
    static constexpr int CollapsedHeight = 32;

    ScriptResultsPanel(QSplitter* receiveSplitter, QWidget* parent = nullptr);

    QLabel* status = nullptr;
    IconButton* clearButton = nullptr;
    IconButton* collapseButton = nullptr;
    QTreeWidget* tree = nullptr;

    QJsonObject cursors;     // peer -> next record cursor
    qint64 clearPoint = 0;   // records of events up to here stay hidden
    bool collapsed = false;
    int panelHeight = 164;

    // What the page knows that the panel does not.
    struct Context {
        Channel* channel = nullptr;  // live channel or null
        bool supported = false;      // serial session page
        bool pageEnabled = false;    // the page's own script flag
        QString pageError;           // why the page's own script was refused
        bool paused = false;
        bool follow = true;
    };
    void refresh(const Context& context);
    // Forgets rows and cursors, as when the page is bound to another channel.
    void restart();
    void clear(Channel* channel, qint64 latest);
    void resizePanel();
    void toggleCollapsed();
    void copySelection() const;

    // The row texts of one record: the time of day and the sorted fields.
    static QString timeOfDay(const QString& isoTime);
    static QString fieldsText(const QJsonObject& value);
    // The (views, panel) heights for the splitter's free space `space`.
    static QList<int> splitSizes(int space, int remembered, bool collapsed);

Q_SIGNALS:
    void clearRequested();
    // The collapsed state changed through the button; the page saves.
    void collapseToggled();

private:
    void rememberHeight();
    void append(const QJsonObject& record, bool follow);

    QSplitter* m_splitter;
};

} // namespace vn
