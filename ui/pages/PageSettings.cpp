#include "ui/pages/PageSettings.h"

#include "core/Channel.h"
#include "core/Engine.h"
#include "core/Fail.h"
#include "core/script/FrameScriptProgram.h"
#include "core/script/ScriptError.h"
#include "ui/kit/Combo.h"
#include "ui/kit/ConnectionBar.h"
#include "ui/kit/IconButton.h"
#include "ui/pages/Instrument.h"
#include "ui/pages/Pane.h"
#include "ui/pages/ReceiveArea.h"
#include "ui/pages/ScriptResultsPanel.h"
#include "ui/pages/SendBar.h"
#include "ui/pages/SessionToolbar.h"
#include "ui/views/FilterBox.h"
#include "ui/views/LogView.h"
#include "ui/views/TerminalView.h"
#include "ui/window/Window.h"

#include <QJsonArray>
#include <QSignalBlocker>
#include <QSplitter>
#include <QTimer>

#include <algorithm>
#include <exception>

namespace vn {

namespace {

const QString kScriptCode = QStringLiteral("script_code");
const QString kScriptTestHex = QStringLiteral("script_test_hex");
const QString kScriptEnabled = QStringLiteral("script_enabled");

bool boolOf(const QJsonObject& object, const QString& key, bool fallback)
{
    const QJsonValue value = object.value(key);
    return value.isBool() ? value.toBool() : fallback;
}

void setChecked(IconButton* button, bool on)
{
    const QSignalBlocker blocker(button);
    button->setChecked(on);
}

} // namespace

QJsonObject PageSettings::write(const Pane& page)
{
    if (!page.isControl())
        return writeSession(page);
    QJsonObject object = page.controlSettings;
    if (page.instrument())
        object = page.instrument()->settings();
    else
        object.insert(QStringLiteral("kind"), page.kind);
    object.insert(QStringLiteral("source_key"), page.sourceKey);
    object.insert(QStringLiteral("title"), page.title);
    return object;
}

void PageSettings::restore(Pane& page, const QJsonObject& settings)
{
    if (page.isControl())
        restoreControl(page, settings);
    else
        restoreSession(page, settings);
}

QJsonObject PageSettings::writeSession(const Pane& page)
{
    const ReceiveArea* area = page.receiveArea();
    const TerminalView* terminal = area->terminal;
    const ScriptResultsPanel* results = page.scriptResults();
    const Channel* channel = page.liveChannel();

    QList<int> sizes = page.terminal ? page.senderSizes : page.outerSplitter()->sizes();
    const QJsonArray senderSizes{sizes.value(0, 600), sizes.value(1, 150)};

    QJsonObject object{
        {QStringLiteral("tab_title"), page.title},
        {QStringLiteral("timestamps"), area->log->timestamps},
        {QStringLiteral("search_filter"), page.toolbar()->filter->filter.settings()},
        {QStringLiteral("hex_display"), area->log->hexMode},
        {QStringLiteral("wrap_lines"), page.toolbar()->wrapLines->isChecked()},
        {QStringLiteral("block_cursor"), terminal->blockCursor},
        {QStringLiteral("copy_shortcut"), terminal->copyShortcut},
        {QStringLiteral("paste_shortcut"), terminal->pasteShortcut},
        {QStringLiteral("right_click_paste"), terminal->rightClickPaste},
        {QStringLiteral("encoding"), page.sendBar()->encoding->currentText()},
        {QStringLiteral("script_collapsed"), results->collapsed},
        {QStringLiteral("script_panel_height"), results->panelHeight},
        {QStringLiteral("sender_sizes"), senderSizes},
        {QStringLiteral("terminal_mode"), page.terminal},
    };
    if (page.supportsScript()) {
        const bool channelScript = page.followsChannelScript();
        object.insert(kScriptCode, channelScript ? channel->scriptSource : page.scriptCode);
        object.insert(kScriptTestHex, page.scriptTestHex);
        object.insert(kScriptEnabled, channelScript ? channel->scriptEnabled : page.scriptEnabled);
    }
    return object;
}

void PageSettings::restoreSession(Pane& page, const QJsonObject& settings)
{
    ReceiveArea* area = page.receiveArea();
    LogView* log = area->log;
    TerminalView* terminal = area->terminal;
    SessionToolbar* toolbar = page.toolbar();
    ScriptResultsPanel* results = page.scriptResults();
    Window* window = page.window;

    if (settings.contains(QStringLiteral("tab_title"))) {
        page.title = settings.value(QStringLiteral("tab_title")).toString().trimmed();
        const int index = window && window->tabs() ? paneIndex(window->tabs(), &page) : -1;
        if (index >= 0 && !page.title.isEmpty()) {
            window->tabs()->setTabText(index, page.title);
            window->adjustTabs();
        }
    }

    const bool oldTimestamps = log->timestamps;
    const bool oldHex = log->hexMode;
    log->timestamps = boolOf(settings, QStringLiteral("timestamps"), true);
    toolbar->filter->restore(settings.value(QStringLiteral("search_filter")).toObject());
    setChecked(toolbar->timestamps, log->timestamps);
    log->hexMode = boolOf(settings, QStringLiteral("hex_display"), false);
    setChecked(toolbar->hexDisplay, log->hexMode);
    const bool wrap = boolOf(settings, QStringLiteral("wrap_lines"), true);
    setChecked(toolbar->wrapLines, wrap);
    log->setWrapping(wrap);
    terminal->blockCursor = boolOf(settings, QStringLiteral("block_cursor"), true);
    setChecked(toolbar->cursorShape, terminal->blockCursor);
    terminal->update();
    terminal->copyShortcut = boolOf(settings, QStringLiteral("copy_shortcut"), true);
    terminal->pasteShortcut = boolOf(settings, QStringLiteral("paste_shortcut"), true);
    terminal->rightClickPaste = boolOf(settings, QStringLiteral("right_click_paste"), true);

    const QString encoding = settings.value(QStringLiteral("encoding")).toString(QStringLiteral("utf-8"));
    if (page.sendBar()->encoding->findText(encoding) >= 0)
        page.sendBar()->encoding->setCurrentText(encoding); // its change handler replays when it differs
    if (log->timestamps != oldTimestamps || log->hexMode != oldHex)
        page.replay();

    results->collapsed = boolOf(settings, QStringLiteral("script_collapsed"), false);
    const QJsonValue height = settings.value(QStringLiteral("script_panel_height"));
    results->panelHeight = height.isDouble()
        ? std::clamp(height.toInt(DefaultPanelHeight), MinPanelHeight, MaxPanelHeight)
        : DefaultPanelHeight;

    const QJsonArray sizes = settings.value(QStringLiteral("sender_sizes")).toArray();
    const bool storedSizes = sizes.size() == 2 && sizes.at(0).toInt() > 0 && sizes.at(1).toInt() > 0;
    if (storedSizes) {
        page.senderSizes = {sizes.at(0).toInt(), sizes.at(1).toInt()};
        QTimer::singleShot(0, &page, [guarded = QPointer<Pane>(&page)]() {
            if (guarded)
                guarded->outerSplitter()->setSizes(guarded->senderSizes);
        });
    }

    // Terminal rule: an SSH connection always shows the terminal; another kind
    // shows it as stored only while its channel lives.
    Channel* channel = page.liveChannel();
    bool showTerminal = false;
    if (!channel) {
        page.terminalPreference = false;
        showTerminal = page.config.kind == QLatin1String("ssh");
    } else if (channel->config.kind == QLatin1String("ssh")) {
        page.terminalPreference = false;
        showTerminal = true;
    } else {
        showTerminal = boolOf(settings, QStringLiteral("terminal_mode"), false);
    }
    const QList<int> restoredSizes = page.senderSizes;
    page.setTerminal(showTerminal);
    // Entering the terminal remembers the splitter's current sizes; the
    // stored ones are what the page is to come back to.
    if (storedSizes)
        page.senderSizes = restoredSizes;

    // Script rule.
    if (page.supportsScript() && settings.contains(kScriptCode)) {
        page.scriptTestHex = settings.value(kScriptTestHex).toString(QStringLiteral("AA 55 C4\n09 E4 0C BC 0D\nAA 55 C4 09 E4 0C BC 0D"));
        page.scriptCode = settings.value(kScriptCode).toString();
        page.scriptEnabled = boolOf(settings, kScriptEnabled, false);
        page.refusedScript.reset();
        // A refused script stays in the page as the user wrote it.
        try {
            if (channel)
                channel->configureScript(page.scriptCode, page.scriptEnabled);
            else if (page.scriptEnabled)
                FrameScriptProgram::compile(page.scriptCode);
        } catch (const ScriptError& error) {
            page.keepRefusedScript(error.display());
        } catch (const std::exception& error) {
            page.keepRefusedScript(errorText(error));
        }
    } else if (!page.supportsScript()) {
        page.scriptEnabled = false;
    }

    if (window) {
        const QString key = channel ? channel->config.key()
                                    : Config::fromJson(window->settings.value(QStringLiteral("connection")).toObject()).key();
        window->restoreInstruments(settings, key);
    }
    page.refreshScriptResults();
    page.resizeScriptResults();
}

void PageSettings::restoreControl(Pane& page, const QJsonObject& settings)
{
    page.controlSettings = settings;
    if (Instrument* instrument = page.instrument())
        instrument->restore(settings);

    QString key = settings.value(QStringLiteral("source_key")).toString();
    const QString waveformKey = Config::waveformDemo().key();
    const QString structuredKey = Config::structuredDemo().key();
    if (page.kind == QLatin1String("control") && !key.startsWith(QLatin1String("serial:")))
        key.clear();
    if ((page.kind == QLatin1String("json") || page.kind == QLatin1String("xml"))
        && key.startsWith(QLatin1String("demo:")) && key != structuredKey)
        key = structuredKey;
    page.sourceKey = key;
    Engine* engine = page.window ? page.window->engine : nullptr;
    if (engine) {
        try {
            if (key == waveformKey)
                engine->waveformDemo();
            else if (key == structuredKey)
                engine->structuredDemo();
        } catch (const std::exception& error) {
            page.showError(errorText(error));
        }
    }

    const QString title = settings.value(QStringLiteral("title")).toString();
    if (!title.isEmpty()) {
        page.title = title;
        Window* window = page.window;
        const int index = window && window->tabs() ? paneIndex(window->tabs(), &page) : -1;
        if (index >= 0)
            window->tabs()->setTabText(index, title);
    }
    page.refreshSource();
}

} // namespace vn
