#include "ui/script/CodeEdit.h"

#include <QFontMetrics>
#include <QTest>
#include <QTextBlock>

using namespace vn;

class CodeEditTest : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void tabInsertsSpaces()
    {
        CodeEdit edit;
        QTest::keyClick(&edit, Qt::Key_Tab);
        QCOMPARE(edit.toPlainText(), QStringLiteral("    "));
        QTest::keyClick(&edit, Qt::Key_Backtab, Qt::ShiftModifier);
        QVERIFY(!edit.toPlainText().contains(QLatin1Char('\t')));
    }

    void enterKeepsIndentation_data()
    {
        QTest::addColumn<QString>("line");
        QTest::addColumn<int>("key");
        QTest::addColumn<int>("modifiers");
        QTest::addColumn<QString>("result");
        QTest::newRow("flat") << "x = 1;" << int(Qt::Key_Return) << 0 << "x = 1;\n";
        QTest::newRow("indented") << "    x = 1;" << int(Qt::Key_Return) << 0 << "    x = 1;\n    ";
        QTest::newRow("opening brace") << "    if (x) {" << int(Qt::Key_Return) << 0 << "    if (x) {\n        ";
        QTest::newRow("brace then blanks") << "if (x) {  " << int(Qt::Key_Return) << 0 << "if (x) {  \n    ";
        QTest::newRow("all blank") << "  " << int(Qt::Key_Return) << 0 << "  \n  ";
        // The keypad's Enter carries the keypad modifier: the base class handles it.
        QTest::newRow("keypad enter") << "    x" << int(Qt::Key_Enter) << int(Qt::KeypadModifier) << "    x\n";
    }

    void enterKeepsIndentation()
    {
        QFETCH(QString, line);
        QFETCH(int, key);
        QFETCH(int, modifiers);
        QFETCH(QString, result);
        CodeEdit edit;
        edit.setPlainText(line);
        edit.moveCursor(QTextCursor::End);
        QTest::keyClick(&edit, Qt::Key(key), Qt::KeyboardModifiers(modifiers));
        QCOMPARE(edit.toPlainText(), result);
    }

    // Only the text before the cursor counts for the brace.
    void enterInsideLine()
    {
        CodeEdit edit;
        edit.setPlainText(QStringLiteral("  ab {"));
        QTextCursor cursor = edit.textCursor();
        cursor.setPosition(4);
        edit.setTextCursor(cursor);
        QTest::keyClick(&edit, Qt::Key_Return);
        QCOMPARE(edit.toPlainText(), QStringLiteral("  ab\n   {"));
    }

    void gutterWidens()
    {
        CodeEdit edit;
        edit.resize(300, 200);
        edit.show();
        QVERIFY(QTest::qWaitForWindowExposed(&edit));
        const int digit = QFontMetrics(edit.font()).horizontalAdvance(QLatin1Char('9'));
        edit.setPlainText(QStringLiteral("1\n2\n3\n4\n5\n6\n7\n8\n9"));
        QCOMPARE(edit.gutterWidth(), digit + 16);
        QCOMPARE(edit.lineGutter()->width(), digit + 16);
        edit.appendPlainText(QStringLiteral("10"));
        QCOMPARE(edit.gutterWidth(), 2 * digit + 16);
        QCOMPARE(edit.lineGutter()->width(), 2 * digit + 16);
        // The numbers are painted without trouble.
        QVERIFY(!edit.lineGutter()->grab().isNull());
    }
};

QTEST_MAIN(CodeEditTest)
#include "CodeEditTest.moc"
