#include "core/Channel.h"
#include "core/Engine.h"
#include "core/script/FrameScriptProgram.h"
#include "mcp/McpServer.h"
#include "ui/pages/Pane.h"
#include "ui/script/CodeEdit.h"
#include "ui/script/ScriptEditor.h"
#include "ui/window/Window.h"
#include "tests/support/FileSizeLimit.h"

#include <QApplication>
#include <QCheckBox>
#include <QFileDialog>
#include <QJsonArray>
#include <QJsonObject>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPointer>
#include <QPushButton>
#include <QStandardPaths>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <QTreeWidget>

#include <cerrno>
#include <memory>

using namespace vn;

namespace {

const QString CountMessage = QStringLiteral("请输入 1..64 行 HEX，总计不超过 64 KiB。");

// A root window with one serial session page, bound to a loop:// channel
// unless asked otherwise.
struct Desk {
    QTemporaryDir folder;
    Engine engine;
    McpServer server{&engine};
    std::unique_ptr<Window> window;
    QPointer<Pane> page;
    Channel* channel = nullptr;

    explicit Desk(bool bound = true, const QString& kind = QString())
    {
        window = std::make_unique<Window>(&engine, &server, folder.filePath(QStringLiteral("settings.json")), nullptr);
        page = new Pane(window.get(), kind);
        page->config.port = QStringLiteral("loop://");
        if (bound) {
            channel = engine.open(page->config);
            page->channel = channel;
        }
    }
    ~Desk()
    {
        delete page.data();
    }

    ScriptEditor* open()
    {
        ScriptEditor* editor = showScriptEditor(page, true);
        return editor && QTest::qWaitForWindowExposed(editor) ? editor : nullptr;
    }
};

template <typename T>
T* child(QWidget* dialog, const char* name)
{
    return dialog->findChild<T*>(QString::fromLatin1(name));
}

QPushButton* buttonNamed(QWidget* dialog, const QString& text)
{
    const auto buttons = dialog->findChildren<QPushButton*>();
    for (QPushButton* button : buttons)
        if (button->text() == text)
            return button;
    return nullptr;
}

void click(QPushButton* button)
{
    QVERIFY(button);
    QTest::mouseClick(button, Qt::LeftButton);
}

QString statusOf(QWidget* dialog)
{
    return child<QLabel>(dialog, "scriptEditorStatus")->text();
}

// The block of the translucent red error mark, or -1.
int markedLine(QWidget* dialog)
{
    const auto* code = child<QPlainTextEdit>(dialog, "scriptCode");
    const QList<QTextEdit::ExtraSelection> marks = code->extraSelections();
    if (marks.size() != 1 || marks.first().format.background().color() != QColor(205, 90, 65, 55))
        return -1;
    return marks.first().cursor.blockNumber() + 1;
}

void setCode(QWidget* dialog, const QString& text)
{
    child<QPlainTextEdit>(dialog, "scriptCode")->setPlainText(text);
}

// Runs the trial and waits until the button is usable again.
void trial(QWidget* dialog, const QString& hex)
{
    child<QPlainTextEdit>(dialog, "scriptTestHex")->setPlainText(hex);
    click(child<QPushButton>(dialog, "testScript"));
    QTRY_VERIFY_WITH_TIMEOUT(child<QPushButton>(dialog, "testScript")->isEnabled(), 10000);
}

QStringList rows(QWidget* dialog)
{
    QStringList out;
    auto* tree = child<QTreeWidget>(dialog, "scriptTestResults");
    for (int i = 0; i < tree->topLevelItemCount(); ++i)
        out << tree->topLevelItem(i)->text(0) + QLatin1Char(' ') + tree->topLevelItem(i)->text(1);
    return out;
}

const QString Frame = QStringLiteral("{\"温度\":25,\"电压\":3.3}");

} // namespace

class ScriptEditorTest : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void initTestCase()
    {
        // The file dialog remembers its folders in the Qt settings; under a
        // file size limit those are written to the test's own location.
        QStandardPaths::setTestModeEnabled(true);
    }

    // One editor per page; control pages and non-serial sessions get none.
    void opening()
    {
        Desk desk;
        desk.page->scriptCode = QStringLiteral("void main(const uint8_t data[], int length) {}");
        desk.page->scriptTestHex = QStringLiteral("01 02");
        desk.channel->scriptEnabled = false;
        ScriptEditor* editor = desk.open();
        QVERIFY(editor);
        QCOMPARE(child<QPlainTextEdit>(editor, "scriptCode")->toPlainText(), desk.page->scriptCode);
        QCOMPARE(child<QPlainTextEdit>(editor, "scriptTestHex")->toPlainText(), QStringLiteral("01 02"));
        QVERIFY(!child<QCheckBox>(editor, "scriptEnabled")->isChecked());
        QCOMPARE(statusOf(editor), QStringLiteral("固定 main(data, length) 入口 · 应用后从新收到的数据开始"));
        QVERIFY(child<QPushButton>(editor, "checkScript"));
        QCOMPARE(showScriptEditor(desk.page, false), editor);
        QCOMPARE(findScriptEditor(desk.page), editor);
        QVERIFY(editor->testAttribute(Qt::WA_DeleteOnClose));
        QCOMPARE(editor->windowModality(), Qt::NonModal);
        QCOMPARE(editor->parentWidget(), desk.window.get());

        // Closing lets a new one open.
        QPointer<ScriptEditor> closed = editor;
        click(buttonNamed(editor, QStringLiteral("取消")));
        QTRY_VERIFY(closed.isNull());
        ScriptEditor* again = showScriptEditor(desk.page, false);
        QVERIFY(again);
        QCOMPARE(again->windowModality(), Qt::WindowModal);

        Desk control(false, QStringLiteral("waveform"));
        QVERIFY(!showScriptEditor(control.page, true));
        Desk network(false);
        network.page->config.kind = QStringLiteral("tcp");
        QVERIFY(!network.page->supportsScript());
        QVERIFY(!showScriptEditor(network.page, true));
    }

    // The built-in example over its three sample lines: a frame split over
    // two lines, then a whole frame.
    void exampleTrial()
    {
        Desk desk;
        ScriptEditor* editor = desk.open();
        QVERIFY(editor);
        click(buttonNamed(editor, QStringLiteral("载入示例")));
        QCOMPARE(child<QPlainTextEdit>(editor, "scriptCode")->toPlainText(), FrameScriptProgram::example());
        QCOMPARE(child<QPlainTextEdit>(editor, "scriptTestHex")->toPlainText(),
                 QStringLiteral("AA 55 C4\n09 E4 0C BC 0D\nAA 55 C4 09 E4 0C BC 0D"));
        click(child<QPushButton>(editor, "testScript"));
        QVERIFY(!child<QPushButton>(editor, "testScript")->isEnabled());
        QTRY_VERIFY(child<QPushButton>(editor, "testScript")->isEnabled());
        QCOMPARE(rows(editor), QStringList({QStringLiteral("1 ") + Frame, QStringLiteral("2 ") + Frame}));
        QCOMPARE(statusOf(editor), QStringLiteral("试解析完成：2 帧，缓存剩余 0 字节"));
        QCOMPARE(child<QTreeWidget>(editor, "scriptTestResults")->topLevelItem(0)->toolTip(1), Frame);

        // Blank lines between samples are skipped; a half frame stays buffered.
        trial(editor, QStringLiteral("AA 55 C4 09 E4 0C BC 0D\n\n\r\nAA 55"));
        QCOMPARE(rows(editor), QStringList({QStringLiteral("1 ") + Frame}));
        QCOMPARE(statusOf(editor), QStringLiteral("试解析完成：1 帧，缓存剩余 2 字节"));

        // The trial never touches the live channel.
        QCOMPARE(desk.channel->txBytes, 0);
    }

    void sampleRefusals_data()
    {
        QTest::addColumn<QString>("hex");
        QTest::addColumn<bool>("countMessage");
        QTest::newRow("empty") << QString() << true;
        QTest::newRow("only line breaks") << QStringLiteral("\n\r\n") << true;
        QTest::newRow("65 lines") << QStringLiteral("01\n").repeated(65) << true;
        QTest::newRow("beyond 64 KiB") << QStringLiteral("00 ").repeated(65537) << true;
        QTest::newRow("not hex") << QStringLiteral("AA ZZ") << false;
    }

    void sampleRefusals()
    {
        QFETCH(QString, hex);
        QFETCH(bool, countMessage);
        Desk desk;
        ScriptEditor* editor = desk.open();
        QVERIFY(editor);
        click(buttonNamed(editor, QStringLiteral("载入示例")));
        child<QPlainTextEdit>(editor, "scriptTestHex")->setPlainText(hex);
        click(child<QPushButton>(editor, "testScript"));
        QVERIFY(child<QPushButton>(editor, "testScript")->isEnabled());
        if (countMessage) {
            QCOMPARE(statusOf(editor), CountMessage);
        } else {
            QVERIFY(statusOf(editor) != CountMessage);
            QVERIFY(!statusOf(editor).isEmpty());
            QVERIFY(statusOf(editor) != QStringLiteral("正在试解析…"));
        }
        QCOMPARE(child<QTreeWidget>(editor, "scriptTestResults")->topLevelItemCount(), 0);
    }

    void compileErrors_data()
    {
        QTest::addColumn<QString>("code");
        QTest::addColumn<int>("line");
        QTest::newRow("line 1") << QStringLiteral("void main(const uint8_t data[], int length) { x = ; }") << 1;
        QTest::newRow("line 3") << QStringLiteral("void main(const uint8_t data[], int length)\n{\n    int a = ;\n}\n") << 3;
        QTest::newRow("unknown call on 2") << QStringLiteral("void main(const uint8_t data[], int length) {\n  nope(1);\n}") << 2;
    }

    // Check, trial and save all report a compile error with its line marked;
    // typing removes the mark.
    void compileErrors()
    {
        QFETCH(QString, code);
        QFETCH(int, line);
        Desk desk;
        ScriptEditor* editor = desk.open();
        QVERIFY(editor);
        setCode(editor, code);
        const QString prefix = QStringLiteral("第 %1 行：").arg(line);

        click(child<QPushButton>(editor, "checkScript"));
        QVERIFY2(statusOf(editor).startsWith(prefix), qPrintable(statusOf(editor)));
        QCOMPARE(markedLine(editor), line);
        auto* codeEdit = child<QPlainTextEdit>(editor, "scriptCode");
        QCOMPARE(codeEdit->textCursor().blockNumber(), line - 1);
        QTest::keyClick(codeEdit, Qt::Key_Space);
        QCOMPARE(markedLine(editor), -1);
        QVERIFY(codeEdit->extraSelections().isEmpty());

        child<QPlainTextEdit>(editor, "scriptTestHex")->setPlainText(QStringLiteral("01"));
        click(child<QPushButton>(editor, "testScript"));
        QVERIFY(statusOf(editor).startsWith(prefix));
        QCOMPARE(markedLine(editor), line);
        QVERIFY(child<QPushButton>(editor, "testScript")->isEnabled());

        // Saving with the box checked keeps the dialog and changes nothing.
        desk.page->scriptCode = QStringLiteral("old");
        desk.page->scriptTestHex = QStringLiteral("AA");
        child<QCheckBox>(editor, "scriptEnabled")->setChecked(true);
        click(buttonNamed(editor, QStringLiteral("保存并关闭")));
        QVERIFY(editor->isVisible());
        QVERIFY(statusOf(editor).startsWith(prefix));
        QCOMPARE(desk.page->scriptCode, QStringLiteral("old"));
        QCOMPARE(desk.page->scriptTestHex, QStringLiteral("AA"));
        QVERIFY(!desk.channel->scriptEnabled);
        QVERIFY(desk.channel->scriptSource != codeEdit->toPlainText());
    }

    void showFailureMarks()
    {
        Desk desk;
        ScriptEditor* editor = desk.open();
        QVERIFY(editor);
        setCode(editor, QStringLiteral("a\nb\nc"));
        editor->showFailure(QStringLiteral("第 2 行：需要表达式"), 0);
        QCOMPARE(markedLine(editor), 2);
        editor->showFailure(QStringLiteral("第 99 行：需要表达式"), 0);
        QCOMPARE(markedLine(editor), 3);
        setCode(editor, QStringLiteral("a\nb\nc"));
        editor->showFailure(QStringLiteral("脚本处理队列已满"), 0);
        QCOMPARE(statusOf(editor), QStringLiteral("脚本处理队列已满"));
        QCOMPARE(markedLine(editor), -1);
    }

    // A fault while running the trial: the button comes back at once and the
    // line is taken from the worker's message.
    void trialRunError()
    {
        Desk desk;
        ScriptEditor* editor = desk.open();
        QVERIFY(editor);
        setCode(editor, QStringLiteral("void main(const uint8_t data[], int length)\n{\n"
                                       "    emit(\"v\", read_u32_le(data, 0));\n}\n"));
        trial(editor, QStringLiteral("01\n02"));
        QVERIFY2(statusOf(editor).contains(QStringLiteral("第 3 行")), qPrintable(statusOf(editor)));
        QCOMPARE(markedLine(editor), 3);
        QVERIFY(child<QPushButton>(editor, "testScript")->isEnabled());
        QCOMPARE(child<QTreeWidget>(editor, "scriptTestResults")->topLevelItemCount(), 0);
    }

    // However many frames a trial yields, the table keeps the first 4096.
    void rowCap()
    {
        Desk desk;
        ScriptEditor* editor = desk.open();
        QVERIFY(editor);
        setCode(editor, QStringLiteral("void main(const uint8_t data[], int length)\n{\n"
                                       "    for (int i = 0; i < 1000; i = i + 1) {\n"
                                       "        emit(\"i\", i);\n        emit_frame();\n    }\n}\n"));
        trial(editor, QStringLiteral("01\n").repeated(5));
        auto* tree = child<QTreeWidget>(editor, "scriptTestResults");
        QCOMPARE(tree->topLevelItemCount(), 4096);
        QCOMPARE(tree->topLevelItem(4095)->text(0), QStringLiteral("4096"));
        QCOMPARE(tree->topLevelItem(4095)->text(1), QStringLiteral("{\"i\":95}"));
        QCOMPARE(statusOf(editor), QStringLiteral("试解析完成：4096 帧，缓存剩余 0 字节"));
    }

    // Saving with the box checked configures the live loop:// channel, and the
    // channel's script records follow the data it receives.
    void applyToLiveChannel()
    {
        Desk desk;
        ScriptEditor* editor = desk.open();
        QVERIFY(editor);
        QPointer<ScriptEditor> guard = editor;
        click(buttonNamed(editor, QStringLiteral("载入示例")));
        child<QCheckBox>(editor, "scriptEnabled")->setChecked(true);
        click(buttonNamed(editor, QStringLiteral("保存并关闭")));
        QTRY_VERIFY(guard.isNull());
        QVERIFY(desk.channel->scriptEnabled);
        QCOMPARE(desk.channel->scriptSource, FrameScriptProgram::example());
        QCOMPARE(desk.page->scriptCode, FrameScriptProgram::example());
        QVERIFY(desk.page->scriptEnabled);
        QCOMPARE(desk.page->scriptTestHex, QStringLiteral("AA 55 C4\n09 E4 0C BC 0D\nAA 55 C4 09 E4 0C BC 0D"));

        desk.channel->send(QByteArray::fromHex("AA55C409E40CBC0D"));
        QTRY_COMPARE(desk.channel->scriptFrames, 1);
        const QJsonArray records = desk.channel->scriptResults(0, 10, {})
                                       .value(QStringLiteral("sources")).toObject()
                                       .value(QStringLiteral("default")).toObject()
                                       .value(QStringLiteral("records")).toArray();
        QCOMPARE(records.size(), 1);
        const QJsonObject value = records.first().toObject().value(QStringLiteral("value")).toObject();
        QCOMPARE(value.value(QStringLiteral("温度")).toDouble(), 25.0);
        QCOMPARE(value.value(QStringLiteral("电压")).toDouble(), 3.3);
        // The page's own results table shows the record on its next refresh.
        auto* table = desk.page->findChild<QTreeWidget*>(QStringLiteral("scriptResults"));
        QVERIFY(table);
        desk.page->refreshScriptResults();
        QCOMPARE(table->topLevelItemCount(), 1);
        QString shown;
        for (int column = 0; column < table->columnCount(); ++column)
            shown += table->topLevelItem(0)->text(column) + QLatin1Char(' ');
        QVERIFY2(shown.contains(QStringLiteral("温度")) && shown.contains(QStringLiteral("3.3")), qPrintable(shown));

        // A new editor starts from the channel's state.
        ScriptEditor* next = desk.open();
        QVERIFY(next);
        QVERIFY(child<QCheckBox>(next, "scriptEnabled")->isChecked());
    }

    // Unchecked, the code is kept even when it does not compile, with or
    // without a live channel.
    void saveDisabled_data()
    {
        QTest::addColumn<bool>("bound");
        QTest::newRow("live channel") << true;
        QTest::newRow("no channel") << false;
    }

    void saveDisabled()
    {
        QFETCH(bool, bound);
        Desk desk(bound);
        ScriptEditor* editor = desk.open();
        QVERIFY(editor);
        QPointer<ScriptEditor> guard = editor;
        setCode(editor, QStringLiteral("not a script"));
        child<QPlainTextEdit>(editor, "scriptTestHex")->setPlainText(QStringLiteral("01 02"));
        child<QCheckBox>(editor, "scriptEnabled")->setChecked(false);
        click(buttonNamed(editor, QStringLiteral("保存并关闭")));
        QTRY_VERIFY(guard.isNull());
        QCOMPARE(desk.page->scriptCode, QStringLiteral("not a script"));
        QCOMPARE(desk.page->scriptTestHex, QStringLiteral("01 02"));
        QVERIFY(!desk.page->scriptEnabled);
        if (bound) {
            QCOMPARE(desk.channel->scriptSource, QStringLiteral("not a script"));
            QVERIFY(!desk.channel->scriptEnabled);
        }
        // Without a channel, enabling still checks the code.
        if (!bound) {
            ScriptEditor* next = desk.open();
            QVERIFY(next);
            child<QCheckBox>(next, "scriptEnabled")->setChecked(true);
            click(buttonNamed(next, QStringLiteral("保存并关闭")));
            QVERIFY(next->isVisible());
            QVERIFY(statusOf(next).startsWith(QStringLiteral("第 1 行：")));
        }
    }

    void closesWithItsPage()
    {
        Desk desk;
        QPointer<ScriptEditor> editor = desk.open();
        QVERIFY(editor);
        delete desk.page.data();
        QTRY_VERIFY(editor.isNull());
    }

    void importLimit_data()
    {
        QTest::addColumn<int>("size");
        QTest::addColumn<bool>("accepted");
        QTest::newRow("64 KiB") << 65536 << true;
        QTest::newRow("one byte more") << 65537 << false;
    }

    void importLimit()
    {
        QFETCH(int, size);
        QFETCH(bool, accepted);
        Desk desk;
        ScriptEditor* editor = desk.open();
        QVERIFY(editor);
        setCode(editor, QStringLiteral("before"));
        const QString path = desk.folder.filePath(QStringLiteral("script.c"));
        QFile file(path);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write(QByteArray(size, 'x'));
        file.close();
        QTimer::singleShot(0, this, [path] {
            auto* dialog = qobject_cast<QFileDialog*>(QApplication::activeModalWidget());
            QVERIFY(dialog);
            QCOMPARE(dialog->windowTitle(), QStringLiteral("导入解析脚本"));
            dialog->selectFile(path);
            static_cast<QDialog*>(dialog)->accept();
        });
        click(buttonNamed(editor, QStringLiteral("导入脚本")));
        const QString code = child<QPlainTextEdit>(editor, "scriptCode")->toPlainText();
        if (accepted) {
            QCOMPARE(code.size(), size);
        } else {
            QCOMPARE(code, QStringLiteral("before"));
            QCOMPARE(statusOf(editor), QStringLiteral("无法读取脚本，文件应小于 64 KiB。"));
        }
    }

    void exportScript_data()
    {
        QTest::addColumn<bool>("fullDisk");
        QTest::newRow("written") << false;
        QTest::newRow("full disk keeps the earlier file") << true;
    }

    void exportScript()
    {
        QFETCH(bool, fullDisk);
        Desk desk;
        ScriptEditor* editor = desk.open();
        QVERIFY(editor);
        setCode(editor, QStringLiteral("// 温度\nvoid main(const uint8_t data[], int length) {}\n"));
        const QString path = desk.folder.filePath(QStringLiteral("out.c"));
        const QByteArray earlier("// an earlier script\n");
        if (fullDisk) {
            QFile old(path);
            QVERIFY(old.open(QIODevice::WriteOnly));
            QCOMPARE(old.write(earlier), earlier.size());
        }
        QTimer::singleShot(0, this, [path] {
            auto* dialog = qobject_cast<QFileDialog*>(QApplication::activeModalWidget());
            QVERIFY(dialog);
            // The user already agreed to replace the earlier file.
            dialog->setOption(QFileDialog::DontConfirmOverwrite);
            dialog->selectFile(path);
            static_cast<QDialog*>(dialog)->accept();
        });
        if (fullDisk) {
            // What a full disk does, without root: the script is far below
            // the save file's own buffer, so only its flush sees the failure.
            const vn::test::FileSizeLimit limit(16);
            click(buttonNamed(editor, QStringLiteral("导出脚本")));
        } else {
            click(buttonNamed(editor, QStringLiteral("导出脚本")));
        }
        QFile file(path);
        QVERIFY(file.open(QIODevice::ReadOnly));
        if (fullDisk) {
            QCOMPARE(statusOf(editor), qt_error_string(EFBIG));
            QCOMPARE(file.readAll(), earlier);
            return;
        }
        QCOMPARE(statusOf(editor), QStringLiteral("脚本已导出"));
        QCOMPARE(QString::fromUtf8(file.readAll()), child<QPlainTextEdit>(editor, "scriptCode")->toPlainText());
    }
};

QTEST_MAIN(ScriptEditorTest)
#include "ScriptEditorTest.moc"
