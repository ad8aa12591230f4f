#include "ui/script/ScriptEditor.h"

#include "core/Channel.h"
#include "core/Engine.h"
#include "core/script/FrameScriptProcessor.h"
#include "core/script/FrameScriptProgram.h"
#include "core/script/ScriptError.h"
#include "platform/WholeFile.h"
#include "ui/kit/Factories.h"
#include "ui/kit/Splitter.h"
#include "ui/pages/Pane.h"
#include "ui/script/CodeColors.h"
#include "ui/script/CodeEdit.h"
#include "ui/script/ScriptReference.h"
#include "ui/window/Window.h"

#include <QCheckBox>
#include <QFile>
#include <QFileDialog>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLabel>
#include <QPushButton>
#include <QRegularExpression>
#include <QTabWidget>
#include <QTextBlock>
#include <QTextBrowser>
#include <QTreeWidget>
#include <QVBoxLayout>

namespace vn {

namespace {

constexpr int MaxTrialLines = 64;
constexpr qint64 MaxTrialBytes = 65536;
constexpr qint64 MaxScriptFile = 65536;
constexpr int MaxTrialRows = 4096;

QPushButton* plainButton(const QString& text, const QString& variant)
{
    QPushButton* button = vn::button(text, variant);
    button->setAutoDefault(false);
    button->setDefault(false);
    return button;
}

} // namespace

ScriptEditor::ScriptEditor(Pane* page, bool nonModal)
    : QDialog(page ? page->window : nullptr), pane(page), processor(new FrameScriptProcessor(this))
{
    setWindowTitle(QStringLiteral("自定义帧解析"));
    setWindowModality(nonModal ? Qt::NonModal : Qt::WindowModal);
    setAttribute(Qt::WA_DeleteOnClose);
    setWindowFlag(Qt::WindowMaximizeButtonHint, true);
    setSizeGripEnabled(true);
    resize(1080, 760);

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(20, 16, 20, 16);
    layout->setSpacing(12);
    layout->addWidget(label(QStringLiteral("自定义帧解析"), QStringLiteral("section")));

    auto* tools = horizontal(nullptr);
    QPushButton* example = plainButton(QStringLiteral("载入示例"), QStringLiteral("outline"));
    QPushButton* importButton = plainButton(QStringLiteral("导入脚本"), QStringLiteral("outline"));
    QPushButton* exportButton = plainButton(QStringLiteral("导出脚本"), QStringLiteral("outline"));
    QPushButton* check = plainButton(QStringLiteral("语法检查"), QStringLiteral("outline"));
    check->setObjectName(QStringLiteral("checkScript"));
    tools->addWidget(example);
    tools->addWidget(importButton);
    tools->addWidget(exportButton);
    tools->addStretch();
    tools->addWidget(check);
    layout->addLayout(tools);

    code = new CodeEdit(nullptr);
    code->setObjectName(QStringLiteral("scriptCode"));
    if (page && page->window) {
        const QFont font = page->window->dataFont;
        code->setFont(font);
        code->setStyleSheet(QStringLiteral("font-family: '%1'; font-size: %2pt;")
                                .arg(font.families().join(QStringLiteral("', '")),
                                     QString::number(font.pointSizeF(), 'g')));
    }
    code->setLineWrapMode(QPlainTextEdit::NoWrap);
    code->setPlainText(page ? page->scriptCode : QString());
    code->setHighlighter(new CodeColors(code->document(), code));

    auto* trial = new QWidget;
    auto* trialLayout = new QVBoxLayout(trial);
    trialLayout->setContentsMargins(8, 10, 8, 8);
    auto* hint = new QLabel(QStringLiteral("每行 HEX 模拟一次接收，可测试半帧、多帧和噪声。"));
    hint->setWordWrap(true);
    trialLayout->addWidget(hint);
    testHex = new QPlainTextEdit;
    testHex->setObjectName(QStringLiteral("scriptTestHex"));
    testHex->setPlainText(page ? page->scriptTestHex : QString());
    testHex->setMaximumHeight(140);
    trialLayout->addWidget(testHex);
    testButton = plainButton(QStringLiteral("试解析"), QStringLiteral("outline"));
    testButton->setObjectName(QStringLiteral("testScript"));
    trialLayout->addWidget(testButton);
    results = new QTreeWidget;
    results->setObjectName(QStringLiteral("scriptTestResults"));
    results->setRootIsDecorated(false);
    results->setHeaderLabels({QStringLiteral("帧"), QStringLiteral("字段值")});
    results->setColumnWidth(0, 45);
    results->header()->setStretchLastSection(true);
    trialLayout->addWidget(results, 1);

    auto* reference = new QTextBrowser;
    reference->setHtml(scriptReferenceHtml());

    auto* tabs = new QTabWidget;
    tabs->addTab(trial, QStringLiteral("试解析"));
    tabs->addTab(reference, QStringLiteral("函数说明"));

    auto* splitter = new Splitter(Qt::Horizontal);
    splitter->addWidget(code);
    splitter->addWidget(tabs);
    splitter->setStretchFactor(0, 3);
    splitter->setStretchFactor(1, 2);
    splitter->setSizes({620, 400});
    layout->addWidget(splitter, 1);

    status = new QLabel(QStringLiteral("固定 main(data, length) 入口 · 应用后从新收到的数据开始"));
    status->setObjectName(QStringLiteral("scriptEditorStatus"));
    status->setWordWrap(true);
    status->setTextInteractionFlags(Qt::TextSelectableByMouse);
    layout->addWidget(status);

    auto* bottom = horizontal(nullptr);
    enabled = new QCheckBox(QStringLiteral("应用后启用脚本"));
    enabled->setObjectName(QStringLiteral("scriptEnabled"));
    if (page)
        enabled->setChecked(page->followsChannelScript() ? page->channel->scriptEnabled : page->scriptEnabled);
    QPushButton* cancel = plainButton(QStringLiteral("取消"), QStringLiteral("outline"));
    QPushButton* saveButton = plainButton(QStringLiteral("保存并关闭"), QStringLiteral("primary"));
    saveButton->setProperty("action", QStringLiteral("applyScript"));
    bottom->addWidget(enabled);
    bottom->addStretch();
    bottom->addWidget(cancel);
    bottom->addWidget(saveButton);
    layout->addLayout(bottom);

    makeDialogScrollable(this, QSize(560, 320));
    setMinimumSize(560, 440);

    connect(example, &QPushButton::clicked, this, &ScriptEditor::loadExample);
    connect(importButton, &QPushButton::clicked, this, &ScriptEditor::importScript);
    connect(exportButton, &QPushButton::clicked, this, &ScriptEditor::exportScript);
    connect(check, &QPushButton::clicked, this, &ScriptEditor::checkSyntax);
    connect(testButton, &QPushButton::clicked, this, &ScriptEditor::testInput);
    connect(processor, &FrameScriptProcessor::samplesReady, this,
            [this](const QString&, const QJsonArray& frames, qint64) { addRows(frames); });
    connect(processor, &FrameScriptProcessor::batchFinished, this, &ScriptEditor::batchFinished);
    connect(processor, &FrameScriptProcessor::failed, this, &ScriptEditor::trialFailed);
    connect(cancel, &QPushButton::clicked, this, &QDialog::reject);
    connect(saveButton, &QPushButton::clicked, this, &ScriptEditor::save);
    connect(code, &QPlainTextEdit::textChanged, this, [this] { code->setExtraSelections({}); });
    if (page)
        connect(page, &QObject::destroyed, this, &QDialog::reject);
}

ScriptEditor::~ScriptEditor() = default;

Pane* ScriptEditor::page() const
{
    return pane;
}

void ScriptEditor::loadExample()
{
    QTextCursor cursor = code->textCursor();
    cursor.select(QTextCursor::Document);
    cursor.insertText(FrameScriptProgram::example());
    code->setTextCursor(cursor);
    testHex->setPlainText(QStringLiteral("AA 55 C4\n09 E4 0C BC 0D\nAA 55 C4 09 E4 0C BC 0D"));
}

void ScriptEditor::importScript()
{
    const QString path = QFileDialog::getOpenFileName(this, QStringLiteral("导入解析脚本"), QString(),
                                                      QStringLiteral("解析脚本 (*.c *.txt);;全部文件 (*)"));
    if (path.isEmpty())
        return;
    QFile file(path);
    QByteArray bytes;
    // Read one byte past the limit rather than trusting the size: a file may
    // still be growing, and a device node reports no size at all.
    if (file.open(QIODevice::ReadOnly))
        bytes = file.read(MaxScriptFile + 1);
    if (!file.isOpen() || bytes.size() > MaxScriptFile) {
        status->setText(QStringLiteral("无法读取脚本，文件应小于 64 KiB。"));
        return;
    }
    QTextCursor cursor = code->textCursor();
    cursor.select(QTextCursor::Document);
    cursor.insertText(QString::fromUtf8(bytes));
    code->setTextCursor(cursor);
}

void ScriptEditor::exportScript()
{
    const QString path = QFileDialog::getSaveFileName(this, QStringLiteral("导出解析脚本"),
                                                      QStringLiteral("frame-parser.c"),
                                                      QStringLiteral("解析脚本 (*.c);;文本文件 (*.txt)"));
    if (path.isEmpty())
        return;
    if (const QString failure = saveWhole(path, code->toPlainText().toUtf8()); !failure.isEmpty())
        status->setText(failure);
    else
        status->setText(QStringLiteral("脚本已导出"));
}

void ScriptEditor::checkSyntax()
{
    try {
        FrameScriptProgram::compile(code->toPlainText());
        status->setText(QStringLiteral("语法检查通过，可使用右侧 HEX 样本验证解析逻辑。"));
    } catch (const ScriptError& error) {
        showFailure(error.display(), error.line);
    }
}

void ScriptEditor::testInput()
{
    std::shared_ptr<const FrameScriptProgram> program;
    try {
        program = FrameScriptProgram::compile(code->toPlainText());
    } catch (const ScriptError& error) {
        showFailure(error.display(), error.line);
        return;
    }
    try {
        static const QRegularExpression lineBreaks(QStringLiteral("[\r\n]+"));
        const QStringList parts = testHex->toPlainText().split(lineBreaks, Qt::SkipEmptyParts);
        QList<QByteArray> chunks;
        qint64 total = 0;
        for (const QString& part : parts) {
            chunks.append(Engine::encode(part, true, QStringLiteral("utf-8"), QStringLiteral("none")));
            total += chunks.last().size();
        }
        if (chunks.isEmpty() || chunks.size() > MaxTrialLines || total > MaxTrialBytes) {
            status->setText(QStringLiteral("请输入 1..64 行 HEX，总计不超过 64 KiB。"));
            return;
        }
        processor->configure(program);
        results->clear();
        frameRows = 0;
        pendingBatches = int(chunks.size());
        testButton->setEnabled(false);
        status->setText(QStringLiteral("正在试解析…"));
        for (const QByteArray& chunk : chunks)
            processor->submit(chunk, QString(), 0);
    } catch (const std::exception& error) {
        status->setText(QString::fromUtf8(error.what()));
    }
}

void ScriptEditor::addRows(const QJsonArray& frames)
{
    for (const QJsonValue& frame : frames) {
        if (frameRows >= MaxTrialRows)
            return;
        ++frameRows;
        const QString json = QString::fromUtf8(QJsonDocument(frame.toObject()).toJson(QJsonDocument::Compact));
        auto* row = new QTreeWidgetItem(results, {QString::number(frameRows), json});
        row->setToolTip(1, json);
    }
}

void ScriptEditor::batchFinished(int bufferedBytes)
{
    if (pendingBatches <= 0)
        return;
    if (--pendingBatches > 0)
        return;
    testButton->setEnabled(true);
    status->setText(QStringLiteral("试解析完成：%1 帧，缓存剩余 %2 字节").arg(frameRows).arg(bufferedBytes));
}

void ScriptEditor::trialFailed(const QString& message)
{
    processor->configure(nullptr);
    pendingBatches = 0;
    testButton->setEnabled(true);
    showFailure(message, 0);
}

void ScriptEditor::showFailure(const QString& message, int line)
{
    status->setText(message);
    if (line == 0) {
        static const QRegularExpression linePattern(QStringLiteral("第 (\\d+) 行"));
        const QRegularExpressionMatch match = linePattern.match(message);
        if (match.hasMatch())
            line = match.captured(1).toInt();
    }
    if (line <= 0)
        return;
    QTextBlock block = code->document()->findBlockByNumber(line - 1);
    if (!block.isValid())
        block = code->document()->lastBlock();
    QTextEdit::ExtraSelection mark;
    mark.format.setBackground(QColor(205, 90, 65, 55));
    mark.format.setProperty(QTextFormat::FullWidthSelection, true);
    mark.cursor = QTextCursor(block);
    code->setExtraSelections({mark});
    code->setTextCursor(QTextCursor(block));
    code->centerCursor();
}

void ScriptEditor::save()
{
    if (!pane) {
        reject();
        return;
    }
    try {
        pane->applyScript(code->toPlainText(), enabled->isChecked());
    } catch (const ScriptError& error) {
        showFailure(error.display(), error.line);
        return;
    }
    pane->scriptTestHex = testHex->toPlainText();
    if (pane->window)
        pane->window->saveSettings();
    accept();
}

ScriptEditor* findScriptEditor(const Pane* page)
{
    if (!page)
        return nullptr;
    // A closed editor is hidden until its deferred deletion; it no longer counts.
    auto* editor = qobject_cast<ScriptEditor*>(page->scriptEditor.data());
    return editor && editor->isVisible() ? editor : nullptr;
}

ScriptEditor* showScriptEditor(Pane* page, bool nonModal)
{
    if (!page || !page->supportsScript())
        return nullptr;
    ScriptEditor* editor = findScriptEditor(page);
    if (!editor) {
        editor = new ScriptEditor(page, nonModal);
        page->scriptEditor = editor;
    }
    editor->show();
    editor->raise();
    editor->activateWindow();
    return editor;
}

} // namespace vn
