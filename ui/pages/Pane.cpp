#include "ui/pages/Pane.h"

#include "core/Channel.h"
#include "core/Engine.h"
#include "core/Fail.h"
#include "core/script/FrameScriptProgram.h"
#include "core/script/ScriptError.h"
#include "ui/kit/Combo.h"
#include "ui/kit/IconButton.h"
#include "ui/kit/Splitter.h"
#include "ui/pages/Instrument.h"
#include "ui/pages/InstrumentSources.h"
#include "ui/pages/FileTransferDialog.h"
#include "ui/pages/LogExport.h"
#include "ui/pages/PacketTemplates.h"
#include "ui/pages/PageAppearance.h"
#include "ui/pages/PageSettings.h"
#include "ui/pages/ReceiveArea.h"
#include "ui/pages/ScriptResultsPanel.h"
#include "ui/pages/SendBar.h"
#include "ui/pages/SessionToolbar.h"
#include "ui/script/ScriptEditor.h"
#include "ui/views/FilterBox.h"
#include "ui/views/LogView.h"
#include "ui/views/TerminalView.h"
#include "ui/window/Window.h"

#include <QCursor>
#include <QFileDialog>
#include <QLabel>
#include <QMenu>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScrollBar>
#include <QSignalBlocker>
#include <QTimer>
#include <QUuid>
#include <QVBoxLayout>
#include <QWheelEvent>

#include <algorithm>
#include <exception>

namespace vn {

namespace {

bool sendableState(const Channel* channel)
{
    return channel->state == QLatin1String("connected") || channel->state == QLatin1String("listening");
}

} // namespace

Pane::Pane(Window* owner, const QString& pageKind)
    : QWidget(owner)
    , window(owner)
    , id(QUuid::createUuid().toString(QUuid::Id128))
    , kind(pageKind)
    , scriptCode(FrameScriptProgram::example())
    , scriptTestHex(QStringLiteral("AA 55 C4\n09 E4 0C BC 0D\nAA 55 C4 09 E4 0C BC 0D"))
{
    setObjectName(QStringLiteral("workspace"));
    setAttribute(Qt::WA_StyledBackground);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    if (isControl())
        buildControl();
    else
        buildSession();
    applyAppearance();
}

Pane::~Pane() = default;

void Pane::buildControl()
{
    // The instrument wires its own saving, zoom and source choice to this page.
    m_instrument = new Instrument(this, kind, this);
    static_cast<QVBoxLayout*>(layout())->addWidget(m_instrument, 1);
}

void Pane::buildSession()
{
    auto* body = new QWidget;
    body->setObjectName(QStringLiteral("page"));
    auto* column = new QVBoxLayout(body);
    column->setContentsMargins(0, 0, 0, 0);
    column->setSpacing(0);
    static_cast<QVBoxLayout*>(layout())->addWidget(body, 1);

    m_toolbar = new SessionToolbar;
    column->addWidget(m_toolbar);
    m_outer = new Splitter(Qt::Vertical);
    column->addWidget(m_outer, 1);
    m_receiveSplitter = new Splitter(Qt::Vertical);
    m_receiveSplitter->setObjectName(QStringLiteral("receiveSplitter"));
    m_receive = new ReceiveArea;
    m_receiveSplitter->addWidget(m_receive);
    m_results = new ScriptResultsPanel(m_receiveSplitter);
    m_receiveSplitter->addWidget(m_results);
    m_receiveSplitter->setStretchFactor(0, 1);
    m_receiveSplitter->setStretchFactor(1, 0);
    m_sender = new SendBar(*this);
    m_outer->addWidget(m_receiveSplitter);
    m_outer->addWidget(m_sender);
    m_outer->setStretchFactor(0, 1);
    m_outer->setSizes(senderSizes);

    LogView* log = m_receive->log;
    TerminalView* term = m_receive->terminal;
    SessionToolbar* bar = m_toolbar;

    connect(bar->terminalMode, &IconButton::toggled, this, [this](bool on) {
        if (on != terminal)
            setTerminal(on);
    });
    connect(bar->timestamps, &IconButton::toggled, this, [this, log](bool on) {
        log->timestamps = on;
        replay();
    });
    connect(bar->hexDisplay, &IconButton::toggled, this, [this, log](bool on) {
        log->hexMode = on;
        replay();
    });
    connect(bar->wrapLines, &IconButton::toggled, log, &LogView::setWrapping);
    connect(bar->cursorShape, &IconButton::toggled, this, [term](bool on) {
        term->blockCursor = on;
        term->update();
    });
    connect(term, &TerminalView::cursorShapeChanged, bar->cursorShape, &IconButton::setChecked);
    connect(bar->clipboard, &IconButton::clicked, this, &Pane::clipboardMenu);
    connect(bar->filter, &FilterBox::criteriaChanged, this, [bar, log]() { log->setFilter(bar->filter->filter); });
    connect(bar->clear, &IconButton::clicked, this, &Pane::clearView);
    connect(bar->follow, &IconButton::toggled, this, [log](bool on) {
        log->follow = on;
        if (on)
            log->verticalScrollBar()->setValue(log->verticalScrollBar()->maximum());
    });
    connect(bar->exportLog, &IconButton::clicked, this, &Pane::exportLog);
    connect(bar->fileTransfer, &IconButton::clicked, this, &Pane::openFileTransfer);

    connect(m_sender->encoding, &Combo::currentTextChanged, this, &Pane::encodingChanged);
    connect(term, &TerminalView::transmit, this, &Pane::sendTerminalBytes);
    connect(term, &TerminalView::gridSizeChanged, this, [this, term](const QSize& size) {
        if (channel && channel->config.kind == QLatin1String("ssh") && terminal && term->isVisible())
            channel->resizeTerminal(size);
    });
    connect(log, &LogView::zoomRequested, this, &Pane::zoom);
    connect(term, &TerminalView::zoomRequested, this, &Pane::zoom);
    m_sender->textBox->viewport()->installEventFilter(this);

    connect(m_results, &ScriptResultsPanel::clearRequested, this, &Pane::clearScriptResults);
    connect(m_results, &ScriptResultsPanel::collapseToggled, this, [this]() {
        if (window)
            window->saveSettings();
    });
}

FilterBox* Pane::filterBox() const
{
    return m_toolbar ? m_toolbar->filter : nullptr;
}

LogView* Pane::logView() const
{
    return m_receive ? m_receive->log : nullptr;
}

TerminalView* Pane::terminalView() const
{
    return m_receive ? m_receive->terminal : nullptr;
}

Channel* Pane::liveChannel() const
{
    return channel.data();
}

QString Pane::connectionKind() const
{
    return channel ? channel->config.kind : config.kind;
}

void Pane::showError(const QString& message) const
{
    if (window)
        window->error(message);
}

QJsonObject Pane::settings() const
{
    return PageSettings::write(*this);
}

void Pane::restore(const QJsonObject& object)
{
    PageSettings::restore(*this, object);
}

// --- Binding -----------------------------------------------------------------

void Pane::setChannel(Channel* bound)
{
    Channel* old = channel.data();
    if (isControl()) {
        m_instrument->bind(bound);
        channel = bound;
        if (bound) {
            config = bound->config;
            sourceKey = bound->config.key();
        }
        enableParser();
        return;
    }

    if (bound != old)
        m_results->restart();
    channel = bound;
    if (bound) {
        config = bound->config;
        if (bound->config.kind == QLatin1String("ssh")) {
            setTerminal(true);
            QTimer::singleShot(0, this, [this, guarded = QPointer<Channel>(bound)]() {
                if (guarded && m_receive->terminal->isVisible())
                    guarded->resizeTerminal(QSize(m_receive->terminal->cols(), m_receive->terminal->rows()));
            });
        }
        if (supportsScript()) {
            if (refusedScript) {
                keepRefusedScript(refusedScript->error);
            } else if (bound->scriptEnabled) {
                scriptCode = bound->scriptSource;
                scriptEnabled = true;
            } else if (scriptEnabled) {
                try {
                    bound->configureScript(scriptCode, true);
                } catch (const ScriptError& error) {
                    keepRefusedScript(error.display());
                }
            } else {
                bound->scriptSource = scriptCode;
            }
        } else {
            scriptEnabled = false;
        }
    }
    enableParser();
    refreshScriptResults();
}

void Pane::enableParser()
{
    if (kind != QLatin1String("json") && kind != QLatin1String("xml"))
        return;
    Channel* live = channel;
    if (!live)
        return;
    QString encoding = QStringLiteral("utf-8");
    if (window) {
        if (Pane* session = window->findPane(live); session && session->sendBar())
            encoding = session->sendBar()->encoding->currentText();
    }
    try {
        live->configureParser(QStringLiteral("auto"), encoding);
    } catch (const std::exception& error) {
        showError(errorText(error));
    }
}

void Pane::refreshSource()
{
    if (!isControl() || !window || !window->engine)
        return;
    if (m_instrument) {
        m_instrument->refreshSource();
        return;
    }
    const QString structuredKey = Config::structuredDemo().key();
    const bool records = kind == QLatin1String("json") || kind == QLatin1String("xml");
    Channel* selected = nullptr;
    for (const auto& [channelId, each] : window->engine->channels) {
        const Config& record = each->config;
        const QString key = record.key();
        if (kind == QLatin1String("control") && record.kind != QLatin1String("serial"))
            continue;
        if (record.kind == QLatin1String("serial") && !InstrumentSources::offered(*this, *each))
            continue;
        if (records && record.kind == QLatin1String("demo") && key != structuredKey)
            continue;
        if (!records && key == structuredKey)
            continue;
        if (key == sourceKey && !selected)
            selected = each;
    }
    if (selected != channel.data())
        setChannel(selected);
}

// --- Tick and display --------------------------------------------------------

void Pane::tick(bool force)
{
    if (isControl()) {
        if (isVisible() || force)
            m_instrument->tick(channel.data());
        return;
    }
    Channel* live = channel;
    if (followsChannelScript()) {
        scriptEnabled = live->scriptEnabled;
        scriptCode = live->scriptSource;
        refusedScript.reset();
    }
    const bool isLive = live && sendableState(live) && !live->transferActive();
    TerminalView* term = m_receive->terminal;
    if (isLive) {
        const bool writable = live->config.kind != QLatin1String("demo");
        m_sender->sendButton->setEnabled(writable);
        m_sender->repeat->setEnabled(writable);
        term->interactive = terminal;
    } else {
        m_sender->sendButton->setEnabled(false);
        m_sender->repeat->setEnabled(false);
        term->interactive = false;
    }

    const QString connection = connectionKind();
    const bool ssh = connection == QLatin1String("ssh");
    // A remote shell has no line editor of ours, so Shift with the arrows
    // selects on screen instead of sending the shifted cursor keys.
    term->keyboardSelection = ssh;
    m_toolbar->terminalMode->setVisible(!ssh);
    if (!ssh) {
        if (terminalPreference != terminal)
            setTerminal(terminalPreference);
    } else if (!terminal) {
        setTerminal(true);
    }

    m_toolbar->fileTransfer->setVisible(connection == QLatin1String("serial"));
    m_toolbar->fileTransfer->setEnabled(isLive && live->serialPort && live->serialPort->isOpen());
    m_toolbar->exportLog->setEnabled(live != nullptr);
    if (!isLive)
        m_sender->stopRepeat();
    m_sender->target->setVisible(live && (live->config.kind == QLatin1String("tcp-server")
                                          || live->config.kind == QLatin1String("udp")));

    if (!live) {
        if (isVisible())
            refreshScriptResults();
        return;
    }
    if (!isVisible() && !force)
        return;
    refreshScriptResults();
    if (live->config.kind == QLatin1String("tcp-server")) {
        QStringList clients;
        for (const auto& [peer, socket] : live->clients)
            clients.append(peer);
        Combo* target = m_sender->target;
        QStringList shown;
        for (int index = 0; index < target->count(); ++index)
            shown.append(target->itemText(index));
        if (shown != clients) {
            const QString chosen = target->currentText();
            const QSignalBlocker blocker(target);
            target->clear();
            target->addItems(clients);
            if (clients.contains(chosen))
                target->setCurrentText(chosen);
        }
    }
    if (!m_toolbar->pause->isChecked())
        m_receive->pull(live->engine->journal, live->id, ssh, terminalEncoding(), !force);
}

QString Pane::terminalEncoding() const
{
    if (connectionKind() == QLatin1String("ssh"))
        return QStringLiteral("utf-8");
    return m_sender ? m_sender->encoding->currentText() : QStringLiteral("utf-8");
}

void Pane::clearView()
{
    if (isControl())
        return;
    const Journal* journal = window && window->engine ? &window->engine->journal
                                                      : (channel ? &channel->engine->journal : nullptr);
    if (journal)
        m_receive->clear(*journal, channel ? channel->id : QString(), terminalEncoding());
    else
        m_receive->clear(Journal(), QString(), terminalEncoding());
    clearScriptResults();
}

void Pane::replay()
{
    if (isControl())
        return;
    m_receive->replay(terminalEncoding());
}

void Pane::setTerminal(bool on)
{
    if (isControl())
        return;
    const bool ssh = connectionKind() == QLatin1String("ssh");
    if (!ssh) {
        terminalPreference = on;
        m_toolbar->terminalMode->show();
    } else {
        m_toolbar->terminalMode->hide();
        on = true;
    }
    if (!on) {
        terminal = false;
        m_sender->stopRepeat();
        m_toolbar->pause->setChecked(false);
        m_receive->showTerminal(false);
        m_sender->show();
        {
            const QSignalBlocker blocker(m_toolbar->terminalMode);
            m_toolbar->terminalMode->setChecked(false);
        }
        m_toolbar->showMode(false);
        QTimer::singleShot(0, this, [this]() { m_outer->setSizes(senderSizes); });
        return;
    }
    const QList<int> sizes = m_outer->sizes();
    if (!m_sender->isHidden() && sizes.size() == 2 && sizes.at(0) > 0 && sizes.at(1) > 0)
        senderSizes = sizes;
    terminal = true;
    m_sender->stopRepeat();
    m_toolbar->pause->setChecked(false);
    m_receive->showTerminal(true);
    m_sender->hide();
    {
        const QSignalBlocker blocker(m_toolbar->terminalMode);
        m_toolbar->terminalMode->setChecked(true);
    }
    m_toolbar->showMode(true);
    m_receive->terminal->setFocus();
}

void Pane::encodingChanged()
{
    const QString encoding = m_sender->encoding->currentText();
    m_receive->log->encoding = encoding;
    replay();
    if (!window)
        return;
    Channel* live = channel;
    for (const QPointer<Window>& each : std::as_const(window->rootWindow()->windows)) {
        if (!each)
            continue;
        for (Pane* page : std::as_const(each->pages)) {
            if (page && live && page->channel == live)
                page->enableParser();
        }
    }
}

// --- Sending -----------------------------------------------------------------

void Pane::sendCurrent()
{
    if (isControl())
        return;
    try {
        m_sender->sendOnce();
    } catch (const std::exception& error) {
        showError(errorText(error));
    }
}

void Pane::sendTerminalBytes(const QByteArray& bytes)
{
    Channel* live = channel;
    if (!live)
        return;
    QByteArray outgoing = bytes;
    if (live->config.kind == QLatin1String("ssh")) {
        if (outgoing == QByteArrayLiteral("\x1b[7~"))
            outgoing = QByteArrayLiteral("\x1b[H");
        else if (outgoing == QByteArrayLiteral("\x1b[4~"))
            outgoing = QByteArrayLiteral("\x1b[F");
    }
    try {
        live->send(outgoing, m_sender->target->currentText(), QStringLiteral("gui"));
    } catch (const std::exception& error) {
        showError(errorText(error));
    }
}

void Pane::openFileTransfer()
{
    Channel* live = channel;
    if (!live || !live->serialPort || !live->serialPort->isOpen() || live->transferActive())
        return;
    m_sender->stopRepeat();
    auto* dialog = new FileTransferDialog(live, window);
    dialog->setAttribute(Qt::WA_DeleteOnClose);
    dialog->setWindowModality(Qt::WindowModal);
    connect(dialog, &FileTransferDialog::starting, this, &Pane::transferStarting);
    dialog->show();
}

void Pane::transferStarting()
{
    if (m_sender)
        m_sender->stopRepeat();
    tick(false);
}

void Pane::templateMenu()
{
    if (isControl() || !window)
        return;
    QMenu menu(this);
    menu.setObjectName(QStringLiteral("templateMenu"));
    PacketTemplates::fillMenu(menu, *this);
    menu.exec(QCursor::pos());
}

// --- Frame scripts -----------------------------------------------------------

bool Pane::supportsScript() const
{
    return !isControl() && connectionKind() == QLatin1String("serial");
}

void Pane::applyScript(const QString& code, bool enabled)
{
    if (!supportsScript())
        throw ScriptError(0, QStringLiteral("脚本解析仅适用于串口会话"));
    if (Channel* live = channel)
        live->configureScript(code, enabled);
    else if (enabled)
        FrameScriptProgram::compile(code);
    scriptCode = code;
    scriptEnabled = enabled;
    refusedScript.reset();
    if (window) {
        window->saveSettings();
        window->updateStatus();
    }
    refreshScriptResults();
}

bool Pane::followsChannelScript() const
{
    const Channel* live = liveChannel();
    return live
           && (!refusedScript || live->scriptSource != refusedScript->channelSource
               || live->scriptEnabled != refusedScript->channelEnabled);
}

void Pane::keepRefusedScript(const QString& error)
{
    scriptEnabled = false;
    RefusedScript refused{error, QString(), false};
    if (Channel* live = liveChannel()) {
        // A channel running another script keeps it; the page does not stop
        // it. Otherwise the channel holds the page's text, and agents reading
        // its script read the compile error the page shows with it.
        if (!live->scriptEnabled) {
            live->scriptSource = scriptCode;
            live->scriptError = error;
        }
        refused.channelSource = live->scriptSource;
        refused.channelEnabled = live->scriptEnabled;
    }
    refusedScript = refused;
    showError(error);
}

void Pane::openScriptEditor(bool nonModal)
{
    showScriptEditor(this, nonModal);
}

void Pane::refreshScriptResults()
{
    if (!m_results)
        return;
    ScriptResultsPanel::Context context;
    context.channel = channel.data();
    context.supported = supportsScript();
    context.pageEnabled = scriptEnabled;
    context.pageError = refusedScript ? refusedScript->error : QString();
    context.paused = m_toolbar->pause->isChecked();
    context.follow = m_toolbar->follow->isChecked();
    m_results->refresh(context);
}

void Pane::clearScriptResults()
{
    if (!m_results)
        return;
    const qint64 latest = window && window->engine ? window->engine->journal.lastSeq
                                                   : (channel ? channel->engine->journal.lastSeq : 0);
    m_results->clear(channel.data(), latest);
}

void Pane::resizeScriptResults()
{
    if (m_results)
        m_results->resizePanel();
}

// --- Export, appearance, zoom --------------------------------------------------

void Pane::exportLog()
{
    Channel* live = channel;
    if (isControl() || !live)
        return;
    QFileDialog dialog(this, QStringLiteral("导出连接日志"), QString(), QStringLiteral("JSON Lines (*.jsonl)"));
    dialog.setObjectName(QStringLiteral("logExportDialog"));
    dialog.setOption(QFileDialog::DontUseNativeDialog);
    dialog.setAcceptMode(QFileDialog::AcceptSave);
    dialog.selectFile(QStringLiteral("serial-log.jsonl"));
    const QPointer<Pane> guarded(this);
    if (dialog.exec() != QDialog::Accepted || !guarded || dialog.selectedFiles().isEmpty())
        return;
    const QString path = dialog.selectedFiles().constFirst();
    live = channel;
    if (path.isEmpty() || !live)
        return;
    if (const QString problem = LogExport::write(live->engine->journal, live->id, path); !problem.isEmpty())
        showError(problem);
}

void Pane::applyAppearance()
{
    PageAppearance::apply(*this);
}

void Pane::clipboardMenu()
{
    if (isControl() || !m_receive)
        return;
    QMenu menu(this);
    menu.setObjectName(QStringLiteral("terminalClipboardMenu"));
    const QPointer<Pane> guarded(this);
    PageAppearance::fillClipboardMenu(menu, m_receive->terminal, [guarded]() {
        if (guarded && guarded->window)
            guarded->window->saveSettings();
    });
    menu.exec(m_toolbar->clipboard->mapToGlobal(QPoint(0, m_toolbar->clipboard->height())));
}

void Pane::zoom(int steps)
{
    if (!window || steps == 0)
        return;
    QFont font = window->dataFont;
    const int size = std::clamp(static_cast<int>(font.pointSizeF()) + steps, 8, 32);
    font.setPointSize(size);
    window->setDataFont(font);
}

bool Pane::eventFilter(QObject* watched, QEvent* event)
{
    if (m_sender && watched == m_sender->textBox->viewport() && event->type() == QEvent::Wheel) {
        auto* wheel = static_cast<QWheelEvent*>(event);
        if (wheel->modifiers() & Qt::ControlModifier) {
            zoom(wheel->angleDelta().y() / 120);
            return true;
        }
    }
    return QWidget::eventFilter(watched, event);
}

} // namespace vn
