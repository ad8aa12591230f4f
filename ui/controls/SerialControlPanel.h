#pragma once

#include "ui/controls/CanvasLayout.h"
#include "ui/controls/ControlRow.h"
#include "ui/controls/ControlSender.h"
#include "ui/kit/Theme.h"

#include <QFont>
#include <QJsonArray>
#include <QJsonObject>
#include <QPointer>
#include <QTimer>
#include <QWidget>

#include <memory>
#include <vector>

class QBoxLayout;
class QGridLayout;
class QLabel;
class QPushButton;
class QScrollArea;

namespace vn {

class Channel;
class Combo;
class SerialMonitorDialog;

// The body of a control page: named groups of controls (one on show), a
// toolbar, a canvas of control cards and a status line. Its values go as
// packets to the page's serial channel. The panel JSON is the one way to
// reshape it: every structural edit takes settings(), edits that object and
// restores from it, then emits changed().
//
// The hosting page wires: setChannel() on each of its ticks and when its
// binding changes; settings()/restore() under its "serial_controls" key;
// changed() to a workspace save; zoomRequested() to its data font size;
// setTheme() and setDataFont() from its appearance.
class SerialControlPanel : public QWidget {
    Q_OBJECT
public:
    using Row = ControlRow;

    explicit SerialControlPanel(QWidget* parent = nullptr);
    ~SerialControlPanel() override;

    // Model and panel JSON.
    QJsonObject settings() const;
    void restore(const QJsonObject& panel);
    QString addGroup(const QString& name);
    bool selectGroup(const QString& id);
    void addControl(const QJsonObject& control);
    // Moves a control within the active group; an index past the end moves it
    // to the end. It never removes one: removeControl() does.
    void reorder(int from, int to);
    void removeControl(int index);
    void clearControls();
    void setDataFont(const QFont& font);
    void updateCanvasExtent();
    void initializeCanvas();

    // Sending and pacing (see ControlSender).
    void setChannel(Channel* channel);
    void updatePreview(Row* row);
    void valueChanged(Row* row, const QString& value);
    void flushPending();
    void send(Row* row);
    void cancelPending();

    // Cards and canvas layout.
    void rebuild();
    void arrange();
    void rememberGeometry();
    void setTheme(const Theme& theme);
    void clearCards();

    // Editor, presets, groups and the monitor window.
    void edit(int index);
    bool addPresetGroup(const QString& id);
    void addExamples();
    void manageGroup(const QString& action);
    void showMonitor(bool show);
    SerialMonitorDialog* receiveMonitor() const;

    // Read access for the host and for tests.
    const std::vector<std::unique_ptr<Row>>& controlRows() const { return rows; }
    QString activeGroupId() const { return activeGroup; }
    QJsonArray groupList() const { return groups; }
    QLabel* statusLabel() const { return status; }
    int appliedColumns() const { return canvas->appliedColumns; }
    const CanvasLayout& canvasLayoutState() const { return *canvas; }
    ControlSender& controlSender() { return *sender; }
    Theme currentTheme() const { return theme; }
    QFont currentDataFont() const { return dataFont; }
    QTimer& changeTimer() { return changedTimer; }

Q_SIGNALS:
    void changed();
    void zoomRequested(int steps);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void showEvent(QShowEvent* event) override;
    void hideEvent(QHideEvent* event) override;

private:
    void buildToolbar(QBoxLayout* outer);
    void addControlOfType(const QString& type);
    void tidy();
    void applyPanel(const QJsonObject& panel);   // restore, then changed()
    int columnChoice() const;

    QLabel* status = nullptr;
    std::vector<std::unique_ptr<Row>> rows;
    QGridLayout* canvasLayout = nullptr;
    QScrollArea* scroll = nullptr;
    QWidget* canvasWidget = nullptr;
    Combo* groupCombo = nullptr;
    Combo* columnsCombo = nullptr;
    QBoxLayout* actionsRow = nullptr;
    QPushButton* monitorToggle = nullptr;
    QPointer<SerialMonitorDialog> monitorWindow;
    QJsonObject monitorSettings;
    QFont dataFont;
    QJsonArray groups;
    QString activeGroup;
    Theme theme;
    QTimer changedTimer;
    QTimer arrangeTimer;
    std::unique_ptr<ControlSender> sender;
    std::unique_ptr<CanvasLayout> canvas;
};

} // namespace vn
