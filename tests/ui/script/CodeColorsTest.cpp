#include "ui/script/CodeColors.h"
#include "ui/script/CodeEdit.h"

#include <QApplication>
#include <QTest>
#include <QTextBlock>
#include <QTextLayout>

using namespace vn;

namespace {

enum class Role { None, Keyword, Number, Function, String, Comment };

QColor colourOf(const CodeColors::Palette& p, Role role)
{
    switch (role) {
    case Role::Keyword: return p.keyword;
    case Role::Number: return p.number;
    case Role::Function: return p.function;
    case Role::String: return p.string;
    case Role::Comment: return p.comment;
    case Role::None: break;
    }
    return QColor();
}

// The foreground the highlighter gave the character at `position` of the
// document (invalid when it gave none).
QColor colourAt(const QTextDocument* document, int position)
{
    const QTextBlock block = document->findBlock(position);
    const int offset = position - block.position();
    QColor found;
    for (const QTextLayout::FormatRange& range : block.layout()->formats())
        if (offset >= range.start && offset < range.start + range.length)
            found = range.format.foreground().color();
    return found;
}

// The editor with the text coloured in the light or dark set.
struct Colored {
    CodeEdit editor;
    explicit Colored(const QString& text, bool dark = false)
    {
        QPalette palette = editor.palette();
        palette.setColor(QPalette::Text, dark ? QColor(0xe8, 0xe8, 0xe0) : QColor(0x28, 0x39, 0x2f));
        editor.setPalette(palette);
        editor.setPlainText(text);
        auto* colors = new CodeColors(editor.document(), &editor);
        editor.setHighlighter(colors);
        colors->rehighlight();   // a new highlighter colours from the event loop
    }
    QColor at(const QString& needle, int skip = 0) const
    {
        const QString text = editor.toPlainText();
        qsizetype index = text.indexOf(needle);
        for (int i = 0; i < skip; ++i)
            index = text.indexOf(needle, index + 1);
        return colourAt(editor.document(), int(index));
    }
};

} // namespace

Q_DECLARE_METATYPE(Role)

class CodeColorsTest : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void spans_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("needle");
        QTest::addColumn<int>("skip");
        QTest::addColumn<Role>("role");
        QTest::newRow("type name") << "static uint16_t n;" << "uint16_t" << 0 << Role::Keyword;
        QTest::newRow("keyword") << "int x = 5;" << "int" << 0 << Role::Keyword;
        QTest::newRow("decimal") << "int x = 5;" << "5" << 0 << Role::Number;
        QTest::newRow("plain name") << "int x = 5;" << "x" << 0 << Role::None;
        QTest::newRow("hex") << "x = 0x1F;" << "0x1F" << 0 << Role::Number;
        QTest::newRow("exponent") << "x = 3.5e-2;" << "e-2" << 0 << Role::Number;
        QTest::newRow("float suffix number") << "x = 1.5f;" << "1.5" << 0 << Role::Number;
        QTest::newRow("float suffix itself") << "x = 1.5f;" << "f;" << 0 << Role::None;
        QTest::newRow("built-in call") << "v = read_u8(data, 0);" << "read_u8" << 0 << Role::Function;
        QTest::newRow("keyword before parenthesis") << "if (x) return(1);" << "if" << 0 << Role::Function;
        QTest::newRow("return before parenthesis") << "if (x) return(1);" << "return" << 0 << Role::Function;
        QTest::newRow("string") << "emit(\"温度\", 1);" << "温度" << 0 << Role::String;
        QTest::newRow("keyword in string") << "emit(\"int 5\", 1);" << "int 5" << 0 << Role::String;
        QTest::newRow("escaped quote") << "emit(\"a\\\"b\", 1);" << "b\"" << 0 << Role::String;
        QTest::newRow("line comment") << "x = 1; // note 5" << "note" << 0 << Role::Comment;
        QTest::newRow("number in comment") << "x = 1; // note 5" << "5" << 0 << Role::Comment;
        QTest::newRow("slashes in string") << "emit(\"a // b\", 1); x" << "x" << 0 << Role::Comment;
        QTest::newRow("block comment") << "a /* b */ c" << "b" << 0 << Role::Comment;
        QTest::newRow("after block comment") << "a /* b */ c" << "c" << 0 << Role::None;
        QTest::newRow("two block comments") << "/* a */ b /* c */" << "c" << 0 << Role::Comment;
        QTest::newRow("open comment carries") << "a /* b\nint c */ d" << "int" << 0 << Role::Comment;
        QTest::newRow("closed comment ends") << "a /* b\nint c */ d" << "d" << 0 << Role::None;
        QTest::newRow("opener then slash") << "/*/ int\nx" << "x" << 0 << Role::Comment;
        QTest::newRow("opener in string") << "emit(\"/*\", 1);\nint y;" << "int" << 0 << Role::Comment;
        QTest::newRow("opener after line comment") << "// /*\nint y; */ z" << "z" << 0 << Role::None;
        QTest::newRow("carried past line comment") << "// /*\nint y; */ z" << "int" << 0 << Role::Comment;
    }

    void spans()
    {
        QFETCH(QString, text);
        QFETCH(QString, needle);
        QFETCH(int, skip);
        QFETCH(Role, role);
        for (const bool dark : {false, true}) {
            const Colored colored(text, dark);
            QCOMPARE(colored.at(needle, skip), colourOf(CodeColors::palette(dark), role));
        }
    }

    // The colour sets themselves, light text meaning a dark theme.
    void palettes()
    {
        QCOMPARE(Colored(QStringLiteral("int"), true).at(QStringLiteral("int")), QColor(0xe9, 0xbb, 0x78));
        QCOMPARE(Colored(QStringLiteral("int"), false).at(QStringLiteral("int")), QColor(0x94, 0x53, 0x26));
        QCOMPARE(CodeColors::palette(false).comment, QColor(0x75, 0x83, 0x71));
        QCOMPARE(CodeColors::palette(true).string, QColor(0xb6, 0xce, 0x9b));
    }

    // A style change (a new theme) re-colours the whole script.
    void themeChange()
    {
        Colored colored(QStringLiteral("int x;"), false);
        QCOMPARE(colored.at(QStringLiteral("int")), CodeColors::palette(false).keyword);
        QPalette palette = colored.editor.palette();
        palette.setColor(QPalette::Text, QColor(0xf0, 0xf0, 0xf0));
        colored.editor.setPalette(palette);
        colored.editor.setStyleSheet(QStringLiteral("QPlainTextEdit { color: #f0f0f0; }"));
        QCOMPARE(colored.at(QStringLiteral("int")), CodeColors::palette(true).keyword);
    }
};

QTEST_MAIN(CodeColorsTest)
#include "CodeColorsTest.moc"
