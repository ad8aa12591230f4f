#pragma once

#include "core/Config.h"

#include <QJsonObject>
#include <QPointer>
#include <QString>
#include <QWidget>

namespace vn {

class Channel;
class FilterBox;
class Instrument;
class LogView;
class Window;

// One tab page of a window: a session page (empty kind) shows one connection's
// traffic; a control page (kind "waveform", "json", "xml", "control", or the
// older "values" and "structured") follows the data source named by its
// source key.
//
// For now the page is a placeholder that keeps its settings object whole, so a
// workspace survives a save untouched; the session views, sending and the
// instruments come with the session pages.
class Pane : public QWidget {
    Q_OBJECT
public:
    Pane(Window* window, const QString& kind);
    ~Pane() override;

    Window* window = nullptr;
    QString id;           // short id text
    QString kind;         // empty for a session page
    QString title;        // tab text when the user renamed the tab
    QString sourceKey;    // control pages: Config::key of the data source
    QPointer<Channel> channel;
    Config config;
    bool terminal = false;
    QString scriptCode;
    QString scriptTestHex;
    bool scriptEnabled = false;

    bool isControl() const { return !kind.isEmpty(); }
    Instrument* instrument() const { return nullptr; }
    FilterBox* filterBox() const { return nullptr; }
    LogView* logView() const { return nullptr; }

    QJsonObject settings() const;
    void restore(const QJsonObject& settings);
    void setChannel(Channel* channel);
    void setTerminal(bool on);
    void tick(bool force);
    void applyAppearance();
    void replay();
    void clearView();
    void exportLog();
    void refreshSource();
    void refreshScriptResults();

private:
    QJsonObject saved; // what restore() was given, returned by settings()
};

// Control-page settings in their current form: "waveform", "json", "xml" and
// "control" pass; "values" and "structured" are converted; others dropped.
QJsonArray migrateInstrumentPages(const QJsonArray& pages);

} // namespace vn
