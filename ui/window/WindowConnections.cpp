#include "ui/window/Window.h"

#include "core/Channel.h"
#include "core/Engine.h"
#include "core/script/ScriptError.h"
#include "ui/kit/Combo.h"
#include "ui/kit/ConnectionBar.h"
#include "ui/kit/IconButton.h"
#include "ui/kit/IconPainter.h"
#include "ui/pages/Pane.h"
#include "ui/window/ConnectionForm.h"
#include "ui/window/WindowWidgets.h"

#include <QCheckBox>
#include <QLineEdit>
#include <QPainter>
#include <QPixmap>
#include <QPushButton>
#include <QSignalBlocker>
#include <QSpinBox>
#include <QStackedWidget>

namespace vn {

namespace {

bool activeState(const QString& state)
{
    return state == QLatin1String("connected") || state == QLatin1String("listening")
        || state == QLatin1String("connecting") || state == QLatin1String("reconnecting");
}

QIcon stateSquare(const Theme& theme, const QString& state)
{
    QColor colour = theme.muted;
    if (state == QLatin1String("connected") || state == QLatin1String("listening"))
        colour = theme.green;
    else if (state == QLatin1String("error"))
        colour = theme.red;
    else if (state == QLatin1String("connecting") || state == QLatin1String("reconnecting"))
        colour = theme.amber;
    QPixmap picture(16, 16);
    picture.fill(Qt::transparent);
    QPainter painter(&picture);
    painter.fillRect(QRect(4, 4, 8, 8), colour);
    return QIcon(picture);
}

bool registered(Engine* engine, Channel* channel)
{
    for (const auto& entry : engine->channels) {
        if (entry.second == channel)
            return true;
    }
    return false;
}

} // namespace

void Window::connectSidebar()
{
    ConnectionForm* controls = ui->form;
    connect(controls->protocol, &QComboBox::currentIndexChanged, this, &Window::protocolChanged);
    connect(controls->baud, &QComboBox::activated, this, &Window::applyBaud);
    connect(controls->baud->lineEdit(), &QLineEdit::editingFinished, this, &Window::applyBaud);
    connect(controls->port, &QComboBox::currentTextChanged, this, &Window::updateStatus);
    connect(controls->port, &QComboBox::activated, this, &Window::refreshPorts);
    // The page remembers what the user typed into the box, which then stays
    // although no listed port has that name; a port picked from the list is
    // theirs only while it is listed.
    connect(controls->port->lineEdit(), &QLineEdit::textEdited, this, [this](const QString& text) {
        if (sessionPane)
            sessionPane->typedPort = text;
    });
    connect(controls->port, &QComboBox::activated, this, [this]() {
        if (sessionPane)
            sessionPane->typedPort.clear();
    });
    for (QComboBox* box : {controls->dataBits, controls->parity, controls->stopBits, controls->flow})
        connect(box, &QComboBox::activated, this, &Window::applyBaud);
    connect(controls->dtr, &QCheckBox::toggled, this, &Window::applyBaud);
    connect(controls->rts, &QCheckBox::toggled, this, &Window::applyBaud);
    connect(controls->name, &QLineEdit::editingFinished, this, &Window::renameFromForm);
    connect(controls->scriptToggle, &QCheckBox::toggled, this, &Window::scriptToggled);
    connect(controls->scriptEdit, &IconButton::clicked, this, [this]() {
        if (sessionPane)
            sessionPane->openScriptEditor(false);
    });
    connect(controls->connectButton, &QPushButton::clicked, this, &Window::connectionAction);

    connect(controls->sshHost, &QComboBox::activated, this,
            [controls]() { controls->sshHost->lineEdit()->setCursorPosition(0); });
    connect(controls->sshHost->lineEdit(), &QLineEdit::textChanged, this, &Window::sshHostEdited);
    connect(controls->sshClearCache, &QPushButton::clicked, this, &Window::clearSshCacheOfForm);
}

void Window::renameFromForm()
{
    const QString text = ui->form->name->text().trimmed();
    if (!sessionPane || !sessionPane->channel || text.isEmpty())
        return;
    sessionPane->channel->name = text;
    sessionPane->channel->config.name = text;
    syncConnections();
}

void Window::scriptToggled(bool on)
{
    if (!sessionPane)
        return;
    try {
        sessionPane->applyScript(sessionPane->scriptCode, on);
    } catch (const ScriptError& failure) {
        const QSignalBlocker blocker(ui->form->scriptToggle);
        ui->form->scriptToggle->setChecked(!on);
        error(failure.display());
    } catch (const std::exception& failure) {
        const QSignalBlocker blocker(ui->form->scriptToggle);
        ui->form->scriptToggle->setChecked(!on);
        error(QString::fromUtf8(failure.what()));
    }
    updateStatus();
}

void Window::connectionAction()
{
    if (!current)
        return;
    syncParameterPane(false);
    if (!sessionPane) {
        newConnection();
        return;
    }
    const QPointer<Pane> target = current->isControl() ? QPointer<Pane>(current) : QPointer<Pane>();
    const QPointer<Pane> page = sessionPane;
    const bool blocked = engine->signalsBlocked();
    try {
        refreshPorts();
        const Config config = form();
        if (Channel* bound = page->channel) {
            const bool loopback = bound->config.kind == QLatin1String("serial")
                && config.kind == QLatin1String("serial") && config.port == QLatin1String("NULL");
            if ((config.key() == bound->config.key() || loopback) && activeState(bound->state)) {
                stopRepeatSend(page);
                bound->close();
                updateStatus();
                return;
            }
        }
        engine->blockSignals(true);
        busy = true;
        Channel* channel = engine->open(config);
        busy = false;
        const QJsonObject saved = rootWindow()->views.value(config.key()).toObject();
        Pane* shown = findPane(channel);
        if (shown && !target) {
            showPane(shown);
        } else if (!shown && page && !page->channel) {
            page->setChannel(channel);
            if (!saved.isEmpty())
                page->restore(saved);
        } else if (!shown) {
            Pane* fresh = newConnection();
            fresh->typedPort = page ? page->typedPort : QString();
            fresh->setChannel(channel);
            if (!saved.isEmpty())
                fresh->restore(saved);
            loadForm(config);
        }
        if (target) {
            target->sourceKey = channel->config.key();
            target->refreshSource();
            const int index = paneIndex(ui->tabs, target);
            ui->tabs->setCurrentIndex(index);
            activate(index);
        }
        for (const QPointer<Window>& window : std::as_const(rootWindow()->windows)) {
            if (window)
                window->syncConnections();
        }
        engine->blockSignals(blocked);
        // A port that failed to open at once (no such device) is told where
        // the user looks after clicking, as a refused setting is.
        if (channel->state == QLatin1String("error"))
            error(channel->error);
    } catch (const std::exception& failure) {
        busy = false;
        engine->blockSignals(blocked);
        error(QString::fromUtf8(failure.what()));
    }
    updateStatus();
}

void Window::syncConnections()
{
    if (busy || closing)
        return;

    const QList<Pane*> before = pages;
    for (Pane* page : before) {
        if (page->isControl() || !page->channel || registered(engine, page->channel))
            continue;
        const bool blocked = ui->tabs->blockSignals(true);
        ui->tabs->removeTab(paneIndex(ui->tabs, page));
        ui->tabs->blockSignals(blocked);
        pages.removeAll(page);
        ui->stack->removeWidget(page);
        if (sessionPane == page)
            sessionPane = nullptr;
        page->deleteLater();
    }

    for (const auto& entry : engine->channels) {
        Channel* channel = entry.second;
        if (channel->config.isBuiltinDemo())
            continue;
        Pane* page = nullptr;
        for (Pane* candidate : std::as_const(pages)) {
            if (!candidate->isControl() && candidate->channel == channel) {
                page = candidate;
                break;
            }
        }
        if (!page) {
            if (root || findPane(channel))
                continue;
            Pane* remembered = current;
            page = newConnection();
            page->setChannel(channel);
            page->restore(views.value(channel->config.key()).toObject());
            if (remembered && pages.contains(remembered)) {
                const int index = paneIndex(ui->tabs, remembered);
                ui->tabs->setCurrentIndex(index);
                activate(index);
            }
        }
        const int index = paneIndex(ui->tabs, page);
        const QString text = page->title.isEmpty() ? channel->name : page->title;
        ui->tabs->setTabIcon(index, stateSquare(theme, channel->state));
        ui->tabs->setTabText(index, text);
        ui->tabs->setTabToolTip(index, text + QStringLiteral(" · ") + stateText(channel->state)
                                           + QLatin1Char('\n') + channel->error);
    }

    for (Pane* page : std::as_const(pages)) {
        if (!page->isControl())
            continue;
        page->refreshSource();
        const int index = paneIndex(ui->tabs, page);
        ui->tabs->setTabIcon(index, icon(instrumentIconName(page->kind), theme.muted, 20));
        ui->tabs->setTabToolTip(index, page->sourceKey.isEmpty()
                                           ? QStringLiteral("控件页面 · 请选择数据来源")
                                           : QStringLiteral("数据来源：") + page->sourceKey);
    }

    if (!pages.isEmpty() && !pages.contains(current)) {
        current = nullptr;
        activate(ui->tabs->currentIndex());
    } else if (pages.isEmpty()) {
        current = nullptr;
        newConnection();
    }
    syncParameterPane(false);
    adjustTabs();
    updateStatus();
    if (root && current)
        setWindowTitle(ui->tabs->tabText(paneIndex(ui->tabs, current)) + QStringLiteral(" · Varnelle"));
}

} // namespace vn
