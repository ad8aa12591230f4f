#include "ui/json/JsonAssistant.h"

#include <QApplication>
#include <QClipboard>
#include <QDir>
#include <QFile>
#include <QLabel>
#include <QPalette>
#include <QPlainTextEdit>
#include <QProcess>
#include <QPushButton>
#include <QSignalSpy>
#include <QScrollBar>
#include <QStandardPaths>
#include <QTabWidget>
#include <QTemporaryDir>
#include <QTest>
#include <QTextBlock>
#include <QTextBrowser>
#include <QTextLayout>
#include <QTextDocument>

#include <memory>

using vn::JsonAssistant;

namespace {

const QString Sample = QStringLiteral(
    R"({"device":"sensor","temperature":25.5,"online":true,"samples":[1,2,3],"config":{"period_ms":20}})");
const QString Hint = QStringLiteral("粘贴 JSON 后自动校验并展开；支持对象、数组及单个值。");
const QString Valid = QStringLiteral("JSON 语法正确；已更新格式化结果与 cJSON 示例。");

// A test program that builds the sample with build_message, prints it, and parses it
// back with parse_message, then parses a text of the wrong structure.
const char* const MainC = R"(#include <stdio.h>
#include "cJSON.h"
int parse_message(const char *text);
char *build_message(void);
int main(int argc, char **argv)
{
    char *text = build_message();
    int good;
    if (text == NULL || argc < 2) { return 2; }
    good = parse_message(text);
    printf("%s\n%d %d %d\n", text, good, parse_message(argv[1]), parse_message(NULL));
    cJSON_free(text);
    return 0;
}
)";

template <typename T>
T* child(QWidget* dialog, const char* name)
{
    T* found = dialog->findChild<T*>(QString::fromLatin1(name));
    if (found == nullptr)
        qWarning("no widget named %s", name);
    return found;
}

QPushButton* buttonNamed(QWidget* dialog, const QString& text)
{
    for (QPushButton* button : dialog->findChildren<QPushButton*>()) {
        if (button->text() == text)
            return button;
    }
    return nullptr;
}

} // namespace

class JsonAssistantTest : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void init();
    void cleanup();

    void opensOncePerParent();
    void burstOfEditsRefreshesOnce();
    void clearRefreshesAtOnceAndFocusesInput();
    void underlineAtTheFault_data();
    void underlineAtTheFault();
    void expandAndCompact();
    void pasteAndSample();
    void copyFollowsTheTab_data();
    void copyFollowsTheTab();
    void largeResultFillsInSlices();
    void linkColourFollowsTheTheme();
    void highlighterColours();
    void generatedCodeCompilesAndRuns_data();
    void generatedCodeCompilesAndRuns();

private:
    JsonAssistant* open(const QString& text);
    QString statusText() { return child<QLabel>(m_dialog, "jsonStatus")->text(); }
    QPlainTextEdit* input() { return child<QPlainTextEdit>(m_dialog, "jsonInput"); }

    std::unique_ptr<QWidget> m_page;
    JsonAssistant* m_dialog = nullptr;
};

void JsonAssistantTest::init()
{
    m_page = std::make_unique<QWidget>();
    QGuiApplication::clipboard()->setText(QStringLiteral("clipboard before"));
}

void JsonAssistantTest::cleanup()
{
    m_page.reset();
    m_dialog = nullptr;
}

JsonAssistant* JsonAssistantTest::open(const QString& text)
{
    m_dialog = qobject_cast<JsonAssistant*>(vn::showJsonAssistant(m_page.get(), text));
    return m_dialog;
}

void JsonAssistantTest::opensOncePerParent()
{
    QDialog* first = vn::showJsonAssistant(m_page.get(), Sample);
    QVERIFY(qobject_cast<JsonAssistant*>(first));
    QCOMPARE(first->parent(), m_page.get());
    QCOMPARE(first->objectName(), QStringLiteral("jsonAssistantDialog"));
    QCOMPARE(first->windowTitle(), QStringLiteral("JSON 助手"));
    QVERIFY(first->isVisible());
    QCOMPARE(first->findChild<QLabel*>("jsonStatus")->text(), Valid);

    first->hide();
    QDialog* second = vn::showJsonAssistant(m_page.get(), QStringLiteral("[1,2]"));
    QCOMPARE(second, first);
    QVERIFY(second->isVisible());
    QCOMPARE(second->findChild<QPlainTextEdit*>("jsonInput")->toPlainText(), Sample);
    QCOMPARE(m_page->findChildren<QDialog*>().size(), 1);
    for (const char* name : {"jsonFormatted", "cjsonParseCode", "cjsonBuildCode"})
        QVERIFY(first->findChild<QPlainTextEdit*>(name)->isReadOnly());
}

void JsonAssistantTest::burstOfEditsRefreshesOnce()
{
    open(QString());
    QCOMPARE(statusText(), Hint);
    auto* formatted = child<QPlainTextEdit>(m_dialog, "jsonFormatted");
    // Every refresh rewrites the code views, so their changes count refreshes.
    QSignalSpy changes(child<QPlainTextEdit>(m_dialog, "cjsonParseCode"), &QPlainTextEdit::textChanged);
    m_dialog->refresh();
    const qsizetype perRefresh = changes.size();
    QVERIFY(perRefresh > 0);
    changes.clear();

    input()->setFocus();
    QTest::keyClicks(input(), QStringLiteral(R"({"temperature": [1, 2.5, true]})"));
    // Every key restarted the countdown; nothing has been refreshed yet.
    QCOMPARE(changes.size(), 0);
    QCOMPARE(statusText(), Hint);

    QTRY_COMPARE(statusText(), Valid);
    QCOMPARE(changes.size(), perRefresh);
    QVERIFY(formatted->toPlainText().contains(QStringLiteral("\"temperature\": [")));

    // A second burst: again one refresh, with the result of the last edit.
    changes.clear();
    QTest::keyClick(input(), Qt::Key_End, Qt::ControlModifier);
    QTest::keyClicks(input(), QStringLiteral(" ,x"));
    QTest::keyClick(input(), Qt::Key_Backspace);
    QTRY_VERIFY(statusText().contains(QStringLiteral("JSON 结束后存在多余内容")));
    QCOMPARE(changes.size(), perRefresh);
}

void JsonAssistantTest::clearRefreshesAtOnceAndFocusesInput()
{
    open(Sample);
    m_dialog->activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(m_dialog));
    auto* formatted = child<QPlainTextEdit>(m_dialog, "jsonFormatted");
    QVERIFY(!formatted->toPlainText().isEmpty());
    QSignalSpy changes(child<QPlainTextEdit>(m_dialog, "cjsonParseCode"), &QPlainTextEdit::textChanged);
    m_dialog->refresh();
    const qsizetype perRefresh = changes.size();
    changes.clear();

    QTest::mouseClick(child<QPushButton>(m_dialog, "clearJson"), Qt::LeftButton);
    QCOMPARE(input()->toPlainText(), QString());
    QCOMPARE(statusText(), Hint);
    QVERIFY(formatted->toPlainText().isEmpty());
    QCOMPARE(changes.size(), perRefresh);
    QTRY_VERIFY(input()->hasFocus());
}

void JsonAssistantTest::underlineAtTheFault_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<int>("start");     // -1: no selection at all
    QTest::addColumn<QString>("marked"); // the underlined character

    QTest::newRow("trailing comma") << QStringLiteral(R"({"a":1,})") << 7 << QStringLiteral("}");
    QTest::newRow("second line") << QStringLiteral("{\n  \"a\" 1\n}") << 8 << QStringLiteral("1");
    QTest::newRow("single quotes") << QStringLiteral("{'a':1}") << 1 << QStringLiteral("'");
    QTest::newRow("after non-BMP") << QStringLiteral("[\"😀\" 1]") << 6 << QStringLiteral("1");
    QTest::newRow("fault at the end") << QStringLiteral(R"({"a":1)") << 6 << QString();
    QTest::newRow("valid") << QStringLiteral("[1]") << -1 << QString();
    QTest::newRow("too large") << QString(1048577, u'1') << -1 << QString();
}

void JsonAssistantTest::underlineAtTheFault()
{
    QFETCH(QString, text);
    QFETCH(int, start);
    QFETCH(QString, marked);
    open(text);
    const QList<QTextEdit::ExtraSelection> marks = input()->extraSelections();
    if (start < 0) {
        QVERIFY(marks.isEmpty());
        return;
    }
    QCOMPARE(marks.size(), 1);
    const QTextEdit::ExtraSelection& mark = marks.first();
    QCOMPARE(mark.cursor.anchor(), start);
    QCOMPARE(mark.cursor.selectedText(), marked);
    QCOMPARE(mark.format.underlineStyle(), QTextCharFormat::WaveUnderline);
    QCOMPARE(mark.format.underlineColor(), QColor(QStringLiteral("#d96650")));
    QVERIFY(child<QPlainTextEdit>(m_dialog, "jsonFormatted")->toPlainText().isEmpty());
    QVERIFY(child<QPlainTextEdit>(m_dialog, "cjsonParseCode")->toPlainText().isEmpty());
    QVERIFY(child<QPlainTextEdit>(m_dialog, "cjsonBuildCode")->toPlainText().isEmpty());
    QVERIFY(statusText().startsWith(QStringLiteral("第 ")));
    // The user's own cursor stays where it was.
    QCOMPARE(input()->textCursor().hasSelection(), false);

    // Mending the fault removes the underline on the next refresh.
    input()->setPlainText(QStringLiteral("[1]"));
    QTRY_COMPARE(statusText(), Valid);
    QVERIFY(input()->extraSelections().isEmpty());
}

void JsonAssistantTest::expandAndCompact()
{
    open(QStringLiteral(R"({"b": [1,  2], "a": "x"})"));
    QTest::mouseClick(child<QPushButton>(m_dialog, "expandJson"), Qt::LeftButton);
    QCOMPARE(input()->toPlainText(),
             QStringLiteral("{\n    \"a\": \"x\",\n    \"b\": [\n        1,\n        2\n    ]\n}\n"));
    QTest::mouseClick(child<QPushButton>(m_dialog, "compactJson"), Qt::LeftButton);
    QCOMPARE(input()->toPlainText(), QStringLiteral(R"({"a":"x","b":[1,2]})"));
    QTRY_COMPARE(statusText(), Valid);

    // Invalid input stays as typed.
    const QString broken = QStringLiteral("[1, 2,]");
    input()->setPlainText(broken);
    QTest::mouseClick(child<QPushButton>(m_dialog, "expandJson"), Qt::LeftButton);
    QTest::mouseClick(child<QPushButton>(m_dialog, "compactJson"), Qt::LeftButton);
    QCOMPARE(input()->toPlainText(), broken);
    QVERIFY(statusText().contains(QStringLiteral("最后一个成员后不能加逗号")));
}

void JsonAssistantTest::pasteAndSample()
{
    open(QString());
    QGuiApplication::clipboard()->setText(QStringLiteral("[true]"));
    QTest::mouseClick(child<QPushButton>(m_dialog, "pasteJson"), Qt::LeftButton);
    QCOMPARE(input()->toPlainText(), QStringLiteral("[true]"));
    QTRY_COMPARE(statusText(), Valid);

    QTest::mouseClick(buttonNamed(m_dialog, QStringLiteral("示例")), Qt::LeftButton);
    QCOMPARE(input()->toPlainText(), Sample);
    QTRY_VERIFY(child<QPlainTextEdit>(m_dialog, "cjsonParseCode")->toPlainText().contains(
        QStringLiteral("if (cJSON_GetArraySize(samples) < 3) { goto invalid; }")));
}

void JsonAssistantTest::copyFollowsTheTab_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<int>("tab");
    QTest::addColumn<QString>("view"); // the widget whose text is copied; empty: nothing

    QTest::newRow("formatted") << Sample << 0 << QStringLiteral("jsonFormatted");
    QTest::newRow("parse code") << Sample << 1 << QStringLiteral("cjsonParseCode");
    QTest::newRow("build code") << Sample << 2 << QStringLiteral("cjsonBuildCode");
    QTest::newRow("reference") << Sample << 3 << QStringLiteral("cjsonReference");
    QTest::newRow("reference with invalid input") << QStringLiteral("[") << 3 << QStringLiteral("cjsonReference");
    QTest::newRow("invalid input") << QStringLiteral("[") << 0 << QString();
    QTest::newRow("code refused") << QStringLiteral("\"a\\u0000\"") << 1 << QString();
}

void JsonAssistantTest::copyFollowsTheTab()
{
    QFETCH(QString, text);
    QFETCH(int, tab);
    QFETCH(QString, view);
    open(QString());
    // The copy refreshes first, so the text need not have been analysed yet.
    input()->setPlainText(text);
    child<QTabWidget>(m_dialog, "jsonAssistantTabs")->setCurrentIndex(tab);
    QTest::mouseClick(child<QPushButton>(m_dialog, "copyJsonResult"), Qt::LeftButton);
    if (view.isEmpty()) {
        QCOMPARE(QGuiApplication::clipboard()->text(), QStringLiteral("clipboard before"));
        return;
    }
    auto* widget = m_dialog->findChild<QWidget*>(view);
    QVERIFY(widget);
    const QString expected = qobject_cast<QTextBrowser*>(widget)
                                 ? qobject_cast<QTextBrowser*>(widget)->toPlainText()
                                 : qobject_cast<QPlainTextEdit*>(widget)->toPlainText();
    QVERIFY(!expected.isEmpty());
    QCOMPARE(QGuiApplication::clipboard()->text(), expected);
}

void JsonAssistantTest::largeResultFillsInSlices()
{
    QString text = QStringLiteral("[");
    for (int i = 0; i < 2000; ++i)
        text += QStringLiteral("{\"n\":%1,\"s\":\"温度😀\"},").arg(i);
    text += QStringLiteral("{}]");
    open(text);
    auto* formatted = child<QPlainTextEdit>(m_dialog, "jsonFormatted");
    QVERIFY(formatted->verticalScrollBar()->value() == 0);
    QTest::mouseClick(child<QPushButton>(m_dialog, "expandJson"), Qt::LeftButton);
    const QString expected = input()->toPlainText();
    input()->setPlainText(text);
    m_dialog->refresh();
    QVERIFY(formatted->toPlainText().size() < expected.size());
    QTRY_COMPARE(formatted->toPlainText(), expected);
    QCOMPARE(formatted->verticalScrollBar()->value(), 0);

    // A new result while slices are pending replaces them.
    input()->setPlainText(text.replace(QStringLiteral("温度"), QStringLiteral("t")));
    m_dialog->refresh();
    input()->setPlainText(QStringLiteral("[1]"));
    m_dialog->refresh();
    QCOMPARE(formatted->toPlainText(), QStringLiteral("[\n    1\n]\n"));
    // Slices come one per turn of the event loop: a stale one would show in
    // the next few turns, however slow they are.
    for (int turn = 0; turn < 20; ++turn)
        QCoreApplication::processEvents();
    QCOMPARE(formatted->toPlainText(), QStringLiteral("[\n    1\n]\n"));
    // Still coloured, and in the editor's font, after the large document was replaced.
    const QTextBlock number = formatted->document()->findBlockByNumber(1);
    QVERIFY(!number.layout()->formats().isEmpty());
    QCOMPARE(number.layout()->formats().first().format.foreground().color().name(), QStringLiteral("#c68c49"));
    QCOMPARE(formatted->document()->defaultFont().family(), input()->document()->defaultFont().family());
}

void JsonAssistantTest::linkColourFollowsTheTheme()
{
    open(QString());
    auto* reference = child<QTextBrowser>(m_dialog, "cjsonReference");
    const QPalette original = QApplication::palette();
    const auto linkColour = [reference] {
        return reference->document()->defaultStyleSheet().section(QStringLiteral("a { color: "), 1).left(7);
    };
    QPalette light = original;
    light.setColor(QPalette::Base, QColor(0xf6, 0xf4, 0xe8));
    QPalette dark = original;
    dark.setColor(QPalette::Base, QColor(0x1c, 0x22, 0x1f));

    for (int round = 0; round < 2; ++round) {
        QApplication::setPalette(dark);
        QTRY_COMPARE(linkColour(), QStringLiteral("#edaa50"));
        QVERIFY(reference->toPlainText().contains(QStringLiteral("查看 cJSON 开源项目")));
        QVERIFY(reference->toHtml().contains(QStringLiteral("#edaa50")));
        QApplication::setPalette(light);
        QTRY_COMPARE(linkColour(), QStringLiteral("#477255"));
        QVERIFY(reference->toPlainText().contains(QStringLiteral("cJSON_Delete(root)")));
    }
    QApplication::setPalette(original);
}

void JsonAssistantTest::highlighterColours()
{
    open(QStringLiteral("{\"key\": \"value\", \"n\": -1.5e3,\n \"next\"\n: [true, null]}"));
    const QTextDocument* document = input()->document();
    const auto colourAt = [document](int blockNumber, int column) {
        const QTextBlock block = document->findBlockByNumber(blockNumber);
        for (const QTextLayout::FormatRange& range : block.layout()->formats()) {
            if (column >= range.start && column < range.start + range.length)
                return range.format.foreground().color().name();
        }
        return QString();
    };
    QCOMPARE(colourAt(0, 2), QStringLiteral("#518ca7"));  // "key"
    QCOMPARE(colourAt(0, 10), QStringLiteral("#8c9861")); // "value"
    QCOMPARE(colourAt(0, 23), QStringLiteral("#c68c49")); // -1.5e3
    QCOMPARE(colourAt(1, 2), QStringLiteral("#8c9861"));  // "next": its colon is on the next line
    QCOMPARE(colourAt(2, 4), QStringLiteral("#c68c49"));  // true
    QCOMPARE(colourAt(2, 9), QStringLiteral("#c68c49"));  // null
    QCOMPARE(colourAt(0, 0), QString());                  // punctuation
}

void JsonAssistantTest::generatedCodeCompilesAndRuns_data()
{
    QTest::addColumn<QString>("sample");
    QTest::addColumn<QString>("wrongShape");

    QTest::newRow("sample") << Sample << QStringLiteral(R"({"device":1})");
    QTest::newRow("scalar") << QStringLiteral("5") << QStringLiteral("\"5\"");
    QTest::newRow("empty object") << QStringLiteral("{}") << QStringLiteral("[]");
    QTest::newRow("top-level array")
        << QStringLiteral(R"([true, "温度", null, -1500, {"x": []}])") << QStringLiteral("[true]");
    QTest::newRow("awkward keys")
        << QStringLiteral(R"({"text": 1, "int": "q\"uote\\", "温度": {"1st": false}, "": [[1]], "a": 2, "a_value": 3})")
        << QStringLiteral(R"({"text": 1})");
}

void JsonAssistantTest::generatedCodeCompilesAndRuns()
{
    QFETCH(QString, sample);
    QFETCH(QString, wrongShape);
    const QString gcc = QStandardPaths::findExecutable(QStringLiteral("gcc"));
    QVERIFY2(!gcc.isEmpty(), "gcc is needed to compile the generated code");
    QVERIFY2(QFile::exists(QStringLiteral("/usr/include/cjson/cJSON.h")), "libcjson-dev is needed");

    open(sample);
    QCOMPARE(statusText(), Valid);
    QTest::mouseClick(child<QPushButton>(m_dialog, "compactJson"), Qt::LeftButton);
    const QString compact = input()->toPlainText();

    QTemporaryDir dir;
    const auto write = [&dir](const QString& name, const QByteArray& bytes) {
        QFile file(dir.filePath(name));
        return file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size();
    };
    QVERIFY(write("parse.c", child<QPlainTextEdit>(m_dialog, "cjsonParseCode")->toPlainText().toUtf8()));
    QVERIFY(write("build.c", child<QPlainTextEdit>(m_dialog, "cjsonBuildCode")->toPlainText().toUtf8()));
    QVERIFY(write("main.c", MainC));

    QProcess compiler;
    compiler.setWorkingDirectory(dir.path());
    compiler.setProcessChannelMode(QProcess::MergedChannels);
    compiler.start(gcc, {"-std=c11", "-Wall", "-Wextra", "-Werror", "-I/usr/include/cjson", "parse.c",
                         "build.c", "main.c", "-lcjson", "-o", "program"});
    QVERIFY(compiler.waitForFinished(60000));
    QVERIFY2(compiler.exitCode() == 0, compiler.readAll().constData());

    QProcess program;
    program.start(dir.filePath("program"), {wrongShape});
    QVERIFY(program.waitForFinished(30000));
    QCOMPARE(program.exitCode(), 0);
    const QStringList lines = QString::fromUtf8(program.readAllStandardOutput()).split(u'\n');
    QCOMPARE(lines.value(0), compact);
    QCOMPARE(lines.value(1), QStringLiteral("0 -1 -1"));
}

QTEST_MAIN(JsonAssistantTest)
#include "JsonAssistantTest.moc"
