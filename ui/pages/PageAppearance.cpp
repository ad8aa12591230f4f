#include "ui/pages/PageAppearance.h"

#include "ui/kit/IconButton.h"
#include "ui/pages/Instrument.h"
#include "ui/pages/Pane.h"
#include "ui/pages/ReceiveArea.h"
#include "ui/pages/ScriptResultsPanel.h"
#include "ui/pages/SendBar.h"
#include "ui/views/LogView.h"
#include "ui/views/TerminalView.h"
#include "ui/window/Window.h"

#include <QFontMetrics>
#include <QMenu>
#include <QPlainTextEdit>
#include <QTreeWidget>

namespace vn {

QString PageAppearance::fontRule(const QFont& font)
{
    QStringList families = font.families();
    if (families.isEmpty())
        families.append(font.family());
    return QStringLiteral("font-family: '%1'; font-size: %2pt; font-weight: %3; font-style: %4;")
        .arg(families.join(QStringLiteral("', '")), QString::number(font.pointSizeF(), 'g'),
             QString::number(font.weight()),
             font.style() == QFont::StyleNormal ? QStringLiteral("normal") : QStringLiteral("italic"));
}

void PageAppearance::apply(Pane& page)
{
    Window* window = page.window;
    if (!window)
        return;
    const Theme& theme = window->theme;
    const QFont& font = window->dataFont;
    const QString rule = fontRule(font);

    if (page.isControl()) {
        if (Instrument* instrument = page.instrument())
            instrument->applyAppearance(theme, font);
        return;
    }

    const bool windowImage = !window->windowBackgroundImage.isNull();
    const bool receiveImage = !window->receiveBackgroundImage.isNull();
    const bool anyImage = windowImage || receiveImage;
    ReceiveArea* area = page.receiveArea();
    LogView* log = area->log;
    TerminalView* terminal = area->terminal;

    log->theme = theme;
    terminal->theme = theme;

    const QString logStyle = anyImage ? rule + QStringLiteral("background: transparent;") : rule;
    log->setFont(font);
    // An unchanged look must not restyle the log: that would lay out every line again.
    if (log->styleSheet() != logStyle)
        log->setStyleSheet(logStyle);

    page.sendBar()->textBox->setFont(font);
    page.sendBar()->textBox->setStyleSheet(rule);
    terminal->setFont(font);
    terminal->setStyleSheet(rule);

    area->background.set(window->receiveBackground, window->receiveBackgroundImage);
    area->baseColor = theme.panel;
    area->transparent = windowImage && !receiveImage;
    area->update();

    log->transparentBackground = anyImage;
    terminal->transparentBackground = anyImage;
    log->viewport()->setAutoFillBackground(!anyImage);
    QPalette palette = log->viewport()->palette();
    const QColor base = anyImage ? QColor(Qt::transparent) : theme.panel;
    for (const QPalette::ColorGroup group : {QPalette::Active, QPalette::Inactive, QPalette::Disabled})
        palette.setColor(group, QPalette::Base, base);
    log->viewport()->setPalette(palette);
    log->setPalette(palette);

    if (ScriptResultsPanel* results = page.scriptResults()) {
        results->tree->setFont(font);
        results->tree->setStyleSheet(rule);
        results->tree->setColumnWidth(0, QFontMetrics(font).horizontalAdvance(QStringLiteral("00:00:00.000")) + 22);
    }

    terminal->update();
    for (IconButton* button : page.findChildren<IconButton*>()) {
        button->theme = theme;
        button->update();
    }
}

void PageAppearance::fillClipboardMenu(QMenu& menu, TerminalView* terminal, const std::function<void()>& changed)
{
    struct Switch {
        const char* name;
        QString text;
        QString tip;
        bool TerminalView::*flag;
    };
    const Switch switches[] = {
        {"copyShortcut", QStringLiteral("复制快捷键（有选区时 Ctrl+C / Ctrl+Shift+C）"),
         QStringLiteral("有选区时复制并清除选区；无选区时 Ctrl+C 发送中断。Ctrl+Shift+C 仅复制。"),
         &TerminalView::copyShortcut},
        {"pasteShortcut", QStringLiteral("粘贴快捷键（Ctrl + Shift + V）"), QString(), &TerminalView::pasteShortcut},
        {"rightClickPaste", QStringLiteral("右键粘贴"), QString(), &TerminalView::rightClickPaste},
    };
    menu.setToolTipsVisible(true);
    for (const Switch& entry : switches) {
        QAction* action = menu.addAction(entry.text);
        action->setObjectName(QLatin1String(entry.name));
        action->setToolTip(entry.tip.isEmpty() ? entry.text : entry.tip);
        action->setCheckable(true);
        action->setChecked(terminal->*entry.flag);
        const auto flag = entry.flag;
        QObject::connect(action, &QAction::toggled, &menu, [terminal, flag, changed](bool on) {
            terminal->*flag = on;
            changed();
        });
    }
    menu.addSeparator();
    QAction* copy = menu.addAction(QStringLiteral("复制当前选区"));
    copy->setObjectName(QStringLiteral("copySelection"));
    copy->setEnabled(terminal->hasSelection());
    QObject::connect(copy, &QAction::triggered, terminal, &TerminalView::copySelection);
    QAction* paste = menu.addAction(QStringLiteral("粘贴剪贴板"));
    paste->setObjectName(QStringLiteral("pasteClipboard"));
    paste->setEnabled(terminal->interactive);
    QObject::connect(paste, &QAction::triggered, terminal, &TerminalView::pasteClipboard);
}

} // namespace vn
