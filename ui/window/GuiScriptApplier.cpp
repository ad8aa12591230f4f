#include "ui/window/GuiScriptApplier.h"

#include "core/Channel.h"
#include "core/Fail.h"
#include "ui/pages/Pane.h"
#include "ui/window/Window.h"

#include <QAbstractButton>
#include <QCheckBox>
#include <QDialog>
#include <QLabel>
#include <QPlainTextEdit>
#include <QTreeWidget>

#include <functional>

namespace vn {

namespace {

// The page's open script editor; a closed one waits hidden for its deletion
// and no longer counts.
QDialog* openEditor(const Pane* page)
{
    QDialog* editor = page->scriptEditor.data();
    return editor && editor->isVisible() ? editor : nullptr;
}

template <typename T>
T* editorPart(QDialog* editor, const char* name)
{
    return editor->findChild<T*>(QLatin1String(name));
}

void forEachPage(Window* root, Channel* channel, const std::function<void(Pane*)>& visit)
{
    for (const QPointer<Window>& window : std::as_const(root->windows)) {
        if (!window)
            continue;
        for (Pane* page : std::as_const(window->pages)) {
            if (page && page->channel.data() == channel)
                visit(page);
        }
    }
}

bool hasUnsavedWork(QDialog* editor, const Pane* page, const Channel* channel)
{
    if (const auto* code = editorPart<QPlainTextEdit>(editor, "scriptCode"); code && code->toPlainText() != channel->scriptSource)
        return true;
    if (const auto* box = editorPart<QCheckBox>(editor, "scriptEnabled"); box && box->isChecked() != channel->scriptEnabled)
        return true;
    if (const auto* hex = editorPart<QPlainTextEdit>(editor, "scriptTestHex"); hex && hex->toPlainText() != page->scriptTestHex)
        return true;
    return false;
}

void refuseWhileEditing(Window* root, Channel* channel)
{
    forEachPage(root, channel, [channel](Pane* page) {
        QDialog* editor = openEditor(page);
        if (!editor)
            return;
        if (hasUnsavedWork(editor, page, channel))
            fail(QStringLiteral("GUI 脚本编辑器有未保存内容，请先保存或关闭编辑器"));
        if (const auto* test = editorPart<QAbstractButton>(editor, "testScript"); test && !test->isEnabled())
            fail(QStringLiteral("GUI 正在试解析，请等待完成后再应用脚本"));
    });
}

void showInEditor(QDialog* editor, const QString& code, bool enabled, const std::optional<QString>& sample)
{
    if (auto* text = editorPart<QPlainTextEdit>(editor, "scriptCode"))
        text->setPlainText(code);
    if (sample) {
        if (auto* hex = editorPart<QPlainTextEdit>(editor, "scriptTestHex"))
            hex->setPlainText(*sample);
    }
    if (auto* box = editorPart<QCheckBox>(editor, "scriptEnabled"))
        box->setChecked(enabled);
    if (auto* results = editorPart<QTreeWidget>(editor, "scriptTestResults"))
        results->clear();
    if (auto* status = editorPart<QLabel>(editor, "scriptEditorStatus"))
        status->setText(enabled ? QStringLiteral("AI 已同步并启用脚本 · 从新收到的数据开始解析")
                                : QStringLiteral("AI 已同步并停用脚本"));
}

} // namespace

QString guiSampleText(Window* root, Channel* channel)
{
    if (!root)
        return QString();
    const Pane* page = root->findPane(channel);
    return page ? page->scriptTestHex : QString();
}

void applyGuiScript(Window* root, Channel* channel, const QString& code, bool enabled,
                    const std::optional<QString>& sample)
{
    if (!root)
        fail(QStringLiteral("GUI 窗口已关闭"));
    Pane* page = root->findPane(channel);
    if (!page)
        fail(QStringLiteral("没有找到该串口的收发页面"));
    refuseWhileEditing(root, channel);

    page->applyScript(code, enabled);
    root->showPane(page);
    if (sample)
        page->scriptTestHex = *sample;
    if (!openEditor(page))
        page->openScriptEditor(true);

    forEachPage(root, channel, [&](Pane* each) {
        if (each->isControl())
            return;
        if (sample)
            each->scriptTestHex = *sample;
        each->scriptCode = code;
        each->scriptEnabled = enabled;
        each->refusedScript.reset();
        each->refreshScriptResults();
        if (QDialog* editor = openEditor(each))
            showInEditor(editor, code, enabled, sample);
    });
    root->saveSettings();
}

} // namespace vn
