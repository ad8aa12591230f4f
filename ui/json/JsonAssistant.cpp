#include "ui/json/JsonAssistant.h"

#include "ui/json/CJsonReference.h"
#include "ui/json/JsonHighlighter.h"
#include "ui/kit/Factories.h"
#include "ui/kit/Splitter.h"
#include "ui/kit/Theme.h"

#include <QApplication>
#include <QBoxLayout>
#include <QClipboard>
#include <QFontMetricsF>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTabWidget>
#include <QTextDocument>
#include <QTextEdit>

namespace vn {

namespace {

const char* const Sample =
    R"({"device":"sensor","temperature":25.5,"online":true,"samples":[1,2,3],"config":{"period_ms":20}})";

// Characters laid out at once when the formatted view changes, and then per
// event-loop turn; a slice of this size takes a few milliseconds.
constexpr qsizetype FirstSlice = 32768;
constexpr qsizetype NextSlice = 65536;

// Where a slice of about `size` characters from `from` ends: after a line feed
// when there is one in it, and never between the halves of a surrogate pair.
qsizetype sliceEnd(const QString& text, qsizetype from, qsizetype size)
{
    if (text.size() - from <= size)
        return text.size();
    qsizetype end = text.lastIndexOf(u'\n', from + size - 1) + 1;
    if (end <= from)
        end = from + size;
    if (text.at(end - 1).isHighSurrogate())
        ++end;
    return end;
}

// One side of the first tab: a caption above its editor.
QWidget* captioned(const QString& caption, QPlainTextEdit* editor)
{
    auto* pane = new QWidget;
    auto* layout = new QVBoxLayout(pane);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(new QLabel(caption));
    layout->addWidget(editor, 1);
    return pane;
}

} // namespace

QPlainTextEdit* codeEditor(const QString& objectName, bool readOnly, bool highlighted)
{
    auto* editor = new QPlainTextEdit;
    editor->setObjectName(objectName);
    editor->setReadOnly(readOnly);
    editor->setLineWrapMode(QPlainTextEdit::NoWrap);
    editor->setFont(Theme::defaultDataFont());
    editor->setStyleSheet(QStringLiteral("font-family: 'Consolas', 'Microsoft YaHei UI'; font-size: 12pt;"));
    editor->setTabStopDistance(4 * QFontMetricsF(editor->font()).horizontalAdvance(u' '));
    if (highlighted)
        new JsonHighlighter(editor->document());
    return editor;
}

JsonAssistant::JsonAssistant(QWidget* parent, const QString& text)
    : QDialog(parent)
{
    setObjectName(QStringLiteral("jsonAssistantDialog"));
    setWindowTitle(QStringLiteral("JSON 助手"));
    setWindowFlags(windowFlags() | Qt::WindowMinimizeButtonHint | Qt::WindowMaximizeButtonHint);
    resize(1100, 720);

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(18, 16, 18, 16);

    auto* paste = new QPushButton(QStringLiteral("粘贴 JSON"));
    paste->setObjectName(QStringLiteral("pasteJson"));
    auto* expand = new QPushButton(QStringLiteral("展开输入"));
    expand->setObjectName(QStringLiteral("expandJson"));
    auto* compact = new QPushButton(QStringLiteral("压缩输入"));
    compact->setObjectName(QStringLiteral("compactJson"));
    auto* example = new QPushButton(QStringLiteral("示例"));
    auto* clear = new QPushButton(QStringLiteral("清空"));
    clear->setObjectName(QStringLiteral("clearJson"));
    auto* copy = new QPushButton(QStringLiteral("复制当前结果"));
    copy->setObjectName(QStringLiteral("copyJsonResult"));
    copy->setProperty("variant", QStringLiteral("outline"));
    auto* buttons = new QHBoxLayout;
    for (QPushButton* button : {paste, expand, compact, example, clear})
        buttons->addWidget(button);
    buttons->addStretch();
    buttons->addWidget(copy);
    layout->addLayout(buttons);

    input = codeEditor(QStringLiteral("jsonInput"), false, true);
    input->setPlaceholderText(QStringLiteral("在这里粘贴单行或多行 JSON，右侧会自动展开。\n"
                                             "字符串与字段名用双引号；成员之间用逗号；末尾不加逗号。"));
    formattedView = codeEditor(QStringLiteral("jsonFormatted"), true, true);
    parseView = codeEditor(QStringLiteral("cjsonParseCode"), true, false);
    buildView = codeEditor(QStringLiteral("cjsonBuildCode"), true, false);

    tabs = new QTabWidget;
    tabs->setObjectName(QStringLiteral("jsonAssistantTabs"));
    auto* checkPage = new QWidget;
    auto* checkLayout = new QVBoxLayout(checkPage);
    auto* splitter = new Splitter(Qt::Horizontal);
    splitter->addWidget(captioned(QStringLiteral("输入 JSON"), input));
    splitter->addWidget(captioned(QStringLiteral("自动格式化"), formattedView));
    splitter->setSizes({500, 500});
    checkLayout->addWidget(splitter);
    tabs->addTab(checkPage, QStringLiteral("校验与格式化"));
    tabs->addTab(parseView, QStringLiteral("cJSON 解析"));
    tabs->addTab(buildView, QStringLiteral("cJSON 组装"));
    auto* reference = new CJsonReference;
    reference->setObjectName(QStringLiteral("cjsonReference"));
    tabs->addTab(reference, QStringLiteral("常用函数"));
    layout->addWidget(tabs, 1);

    statusLabel = new QLabel;
    statusLabel->setObjectName(QStringLiteral("jsonStatus"));
    statusLabel->setWordWrap(true);
    layout->addWidget(statusLabel);
    auto* note = new QLabel(QStringLiteral("解析和组装代码会随有效 JSON 自动更新，可复制后在自己的项目中使用。"));
    note->setWordWrap(true);
    layout->addWidget(note);

    formattedView->setUndoRedoEnabled(false);
    fillTimer.setSingleShot(true);
    fillTimer.setInterval(0);
    connect(&fillTimer, &QTimer::timeout, this, &JsonAssistant::fillFormatted);

    refreshTimer.setSingleShot(true);
    refreshTimer.setInterval(RefreshDelayMs);
    connect(input, &QPlainTextEdit::textChanged, &refreshTimer, qOverload<>(&QTimer::start));
    connect(&refreshTimer, &QTimer::timeout, this, &JsonAssistant::refresh);

    connect(paste, &QPushButton::clicked, this,
            [this] { input->setPlainText(QGuiApplication::clipboard()->text()); });
    connect(clear, &QPushButton::clicked, this, [this] {
        input->clear();
        refreshTimer.stop();
        refresh();
        input->setFocus();
    });
    connect(example, &QPushButton::clicked, this,
            [this] { input->setPlainText(QString::fromUtf8(Sample)); });
    connect(expand, &QPushButton::clicked, this, [this] {
        refresh();
        if (result.ok)
            input->setPlainText(result.formatted);
    });
    connect(compact, &QPushButton::clicked, this, [this] {
        refresh();
        if (result.ok)
            input->setPlainText(result.compact);
    });
    connect(copy, &QPushButton::clicked, this, &JsonAssistant::copyResult);

    makeDialogScrollable(this, QSize(560, 320));

    input->setPlainText(text);
    // The text was set before anything could see it; the countdown it started is
    // covered by the refresh below.
    refreshTimer.stop();
    refresh();
}

JsonAssistant::~JsonAssistant() = default;

void JsonAssistant::refresh()
{
    result = analyzeJson(input->document()->toPlainText());
    showFormatted(result.formatted);
    parseView->setPlainText(result.parseCode);
    buildView->setPlainText(result.buildCode);
    statusLabel->setText(result.status);

    QList<QTextEdit::ExtraSelection> marks;
    if (result.errorPosition >= 0) {
        QTextEdit::ExtraSelection mark;
        mark.cursor = input->textCursor();
        mark.cursor.setPosition(result.errorPosition);
        mark.cursor.movePosition(QTextCursor::NextCharacter, QTextCursor::KeepAnchor);
        mark.format.setUnderlineStyle(QTextCharFormat::WaveUnderline);
        mark.format.setUnderlineColor(QColor(QStringLiteral("#d96650")));
        marks.append(mark);
    }
    input->setExtraSelections(marks);
}

void JsonAssistant::showFormatted(const QString& text)
{
    // An unchanged result (the refresh before a copy, say) keeps the view as it is.
    if (text == formattedText && (formattedShown == text.size() || fillTimer.isActive()))
        return;
    fillTimer.stop();
    if (formattedView->document()->characterCount() > FirstSlice) {
        // Tearing down a large document takes long; a fresh one takes its place now
        // and the old one goes on a later event-loop turn.
        QTextDocument* old = formattedView->document();
        auto* fresh = new QTextDocument(formattedView);
        fresh->setDocumentLayout(new QPlainTextDocumentLayout(fresh));
        fresh->setDefaultFont(old->defaultFont());
        fresh->setUndoRedoEnabled(false);
        new JsonHighlighter(fresh);
        old->setParent(nullptr);
        formattedView->setDocument(fresh);
        old->deleteLater();
    }
    formattedText = text;
    formattedShown = sliceEnd(text, 0, FirstSlice);
    formattedView->setPlainText(formattedShown == text.size() ? text : text.left(formattedShown));
    if (formattedShown < text.size())
        fillTimer.start();
}

void JsonAssistant::fillFormatted()
{
    const qsizetype end = sliceEnd(formattedText, formattedShown, NextSlice);
    // Appended through a cursor of its own, so the reader's position and scrolling
    // stay where they are.
    QTextCursor cursor(formattedView->document());
    cursor.movePosition(QTextCursor::End);
    cursor.insertText(formattedText.mid(formattedShown, end - formattedShown));
    formattedShown = end;
    if (formattedShown < formattedText.size())
        fillTimer.start();
}

void JsonAssistant::copyResult()
{
    refresh();
    QString text;
    switch (tabs->currentIndex()) {
    case 0: text = result.formatted; break;
    case 1: text = result.parseCode; break;
    case 2: text = result.buildCode; break;
    case 3: text = tabs->findChild<CJsonReference*>()->toPlainText(); break;
    default: break;
    }
    if (!text.isEmpty())
        QGuiApplication::clipboard()->setText(text);
}

QDialog* showJsonAssistant(QWidget* parent, const QString& text)
{
    QDialog* dialog = parent != nullptr
                          ? parent->findChild<QDialog*>(QStringLiteral("jsonAssistantDialog"),
                                                        Qt::FindDirectChildrenOnly)
                          : nullptr;
    if (dialog == nullptr)
        dialog = new JsonAssistant(parent, text);
    dialog->showNormal();
    dialog->raise();
    dialog->activateWindow();
    return dialog;
}

} // namespace vn
