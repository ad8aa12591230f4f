#pragma once

#include <QJsonObject>
#include <QList>
#include <QPointer>
#include <QString>
#include <QTimer>
#include <QWidget>

class QBoxLayout;
class QCheckBox;
class QFont;
class QFrame;
class QLabel;
class QPlainTextEdit;
class QPushButton;
class QSpinBox;
class QTreeWidget;

namespace vn {

class Channel;
class Combo;
class FilterBox;
class FoldingRow;
class IconButton;
class Pane;
class RecordTable;
class SerialControlPanel;
class Splitter;
class ValuesTable;
class WavePlot;
class Window;
struct Theme;

// The body of a control page: one live view of one channel. "waveform" shows
// the "@wave" plot with an optional live values table, "json" and "xml" a
// filtered table of the structured records the channel decoded with a detail
// pane, "control" a serial control panel.
//
// The instrument never owns a channel: it remembers the last one it was handed
// through a guarded pointer and reads everything from it on each tick, so
// pausing or clearing changes only what this page shows, never the shared
// history kept by the channel and the journal.
//
// The page hosts it with a few calls: tick() from its own tick, bind() when
// its binding changes, settings()/restore() for its JSON, refreshSource() for
// the source combo and applyAppearance() when the look changes.
class Instrument : public QWidget {
    Q_OBJECT
public:
    // `page` may be null (a bare instrument in a test); the page's window then
    // stays unknown and the source combo is left to the caller.
    Instrument(Pane* page, const QString& kind, QWidget* parent = nullptr);
    ~Instrument() override;

    // "values" becomes "waveform", "structured" becomes "json".
    static QString normalizedKind(const QString& kind);

    QString kind;
    SerialControlPanel* panel = nullptr;
    QPointer<Window> window;       // the root window; opens the format help
    IconButton* pauseButton = nullptr;
    QSpinBox* pointsBox = nullptr;
    QCheckBox* followBox = nullptr;
    QCheckBox* xAxisBox = nullptr;
    QCheckBox* yAxisBox = nullptr;
    QPushButton* autoScaleButton = nullptr;
    QPushButton* waveSettingsButton = nullptr;
    QPushButton* formatHelpButton = nullptr;
    WavePlot* plot = nullptr;
    QPushButton* valuesToggle = nullptr;
    QFrame* valuesPanel = nullptr;
    Splitter* valuesSplitter = nullptr;
    QList<int> valuesSizes{760, 320};
    QJsonObject valueSnapshot;
    QTreeWidget* table = nullptr;  // values table or records table
    QPlainTextEdit* detail = nullptr;
    Combo* sourceCombo = nullptr;
    QLabel* statusLabel = nullptr;
    FilterBox* filterBox = nullptr;
    QPushButton* jsonAssistantButton = nullptr;
    QJsonObject recordCursors;
    QPointer<Channel> channel;
    QTimer refreshTimer;

    bool isControlPanel() const { return panel != nullptr; }
    bool showsRecords() const { return kind != QLatin1String("control") && kind != QLatin1String("waveform"); }
    bool paused() const;
    int sampleLimit() const;
    RecordTable* records() const;
    ValuesTable* values() const;

    // Refreshes the display from the channel; a null channel only forgets the
    // remembered one and leaves the display as it is.
    void tick(Channel* live);
    // Rebuilds the live values table from the newest sample of each source.
    void refreshValues(Channel* live);

    // The page's binding changed: a different channel resets what this page
    // shows; the control panel follows the binding; the guarded channel is
    // remembered (cleared for none).
    void bind(Channel* live);

    // The instrument's keys of the page JSON, and their lenient restore.
    QJsonObject settings() const;
    void restore(const QJsonObject& settings);

    // Rebuilds the source combo from the engine's channels and binds the page
    // to the chosen source; needs the page.
    void refreshSource();

    // The window's palette and data font onto every widget of the instrument.
    void applyAppearance(const Theme& theme, const QFont& dataFont);

    // Opens the "@wave" line format help beside the root window.
    void showFormatHelp();

public Q_SLOTS:
    // Empties this page's display without touching the shared history.
    void clearDisplay();

Q_SIGNALS:
    // A change the workspace file should keep (presentation, values panel).
    void settingsChanged();

protected:
    void showEvent(QShowEvent* event) override;
    void hideEvent(QHideEvent* event) override;

private:
    void buildDisplayRow();
    void buildWaveform(const QString& givenKind);
    void buildRecords();
    void pauseToggled(bool on);
    void valuesToggled(bool on);
    void timerTick();
    void tickWaveform(Channel* live);
    void tickRecords(Channel* live);

    Pane* m_page = nullptr;
    QBoxLayout* m_main = nullptr;
    FoldingRow* m_sourceRow = nullptr;
    FoldingRow* m_displayRow = nullptr;
};

} // namespace vn
