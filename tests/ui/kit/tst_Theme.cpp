#include "ui/kit/ButtonMotion.h"
#include "ui/kit/Combo.h"
#include "ui/kit/ConnectionBar.h"
#include "ui/kit/Factories.h"
#include "ui/kit/IconButton.h"
#include "ui/kit/SearchBox.h"
#include "ui/kit/Theme.h"

#include <QApplication>
#include <QCheckBox>
#include <QFontDatabase>
#include <QFontInfo>
#include <QLabel>
#include <QMainWindow>
#include <QMenu>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QRegularExpression>
#include <QScrollBar>
#include <QSlider>
#include <QSpinBox>
#include <QStatusBar>
#include <QTabWidget>
#include <QTest>
#include <QToolButton>
#include <QTreeWidget>
#include <QVBoxLayout>

using namespace vn;

namespace {

QStringList captured;

void captureMessages(QtMsgType type, const QMessageLogContext&, const QString& message)
{
    // The offscreen platform's own notices are not about the sheet.
    if (type != QtDebugMsg && type != QtInfoMsg && !message.startsWith(QLatin1String("This plugin does not support"))) {
        captured.append(message);
    }
}

QString name(const QColor& colour)
{
    return colour.name(QColor::HexRgb);
}

} // namespace

class TestTheme : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void palette_data();
    void palette();
    void defaultIsLight();
    void darkKeepsDarkTextOnAccent();
    void fonts();
    void pixelFontFallsBack();
    void sheetFillsEveryPlaceholder_data();
    void sheetFillsEveryPlaceholder();
    void sheetParsesWithoutWarnings_data();
    void sheetParsesWithoutWarnings();
    void sheetAppliesToKitWidgets();
    void sheetInstallsOneFilterAndFollowsLatestPalette();
};

void TestTheme::palette_data()
{
    QTest::addColumn<QString>("field");
    QTest::addColumn<QString>("light");
    QTest::addColumn<QString>("dark");
    QTest::newRow("bg") << "bg" << "#dce2d3" << "#1e2b25";
    QTest::newRow("panel") << "panel" << "#f6f4e8" << "#24332b";
    QTest::newRow("side") << "side" << "#e9ecdd" << "#2c3c32";
    QTest::newRow("text") << "text" << "#28392f" << "#e1e5ce";
    QTest::newRow("muted") << "muted" << "#647360" << "#a1b29a";
    QTest::newRow("line") << "line" << "#b7c2ac" << "#465b48";
    QTest::newRow("accent") << "accent" << "#dc8c38" << "#edaa50";
    QTest::newRow("hover") << "hover" << "#dce4cd" << "#3b5140";
    QTest::newRow("green") << "green" << "#477255" << "#9abf80";
    QTest::newRow("red") << "red" << "#b85845" << "#e78b6d";
    QTest::newRow("amber") << "amber" << "#996022" << "#edaa50";
    QTest::newRow("edge") << "edge" << "#7c8c74" << "#71826a";
    QTest::newRow("rail") << "rail" << "#293e35" << "#17231d";
    QTest::newRow("onaccent") << "onaccent" << "#28392f" << "#28392f";
}

void TestTheme::palette()
{
    QFETCH(QString, field);
    QFETCH(QString, light);
    QFETCH(QString, dark);
    auto pick = [&field](const Theme& theme) -> QColor {
        const QMap<QString, QColor> fields{
            {"bg", theme.bg},       {"panel", theme.panel},   {"side", theme.side},
            {"text", theme.text},   {"muted", theme.muted},   {"line", theme.line},
            {"accent", theme.accent}, {"hover", theme.hover}, {"green", theme.green},
            {"red", theme.red},     {"amber", theme.amber},   {"edge", theme.edge},
            {"rail", theme.rail},   {"onaccent", theme.onaccent}};
        return fields.value(field);
    };
    QCOMPARE(name(pick(Theme::make(false))), light);
    QCOMPARE(name(pick(Theme::make(true))), dark);
    QVERIFY(Theme::make(true).dark);
    QVERIFY(!Theme::make(false).dark);
}

void TestTheme::defaultIsLight()
{
    QVERIFY(Theme() == Theme::make(false));
    QVERIFY(!(Theme() == Theme::make(true)));
}

void TestTheme::darkKeepsDarkTextOnAccent()
{
    const Theme dark = Theme::make(true);
    QCOMPARE(name(dark.onaccent), QStringLiteral("#28392f"));
    QCOMPARE(name(dark.accent), QStringLiteral("#edaa50"));
    QCOMPARE(dark.amber, dark.accent);
}

void TestTheme::fonts()
{
    const QFont interface = Theme::interfaceFont();
    QCOMPARE(interface.family(), QStringLiteral("Microsoft YaHei UI"));
    QCOMPARE(interface.pixelSize(), 14);
    QCOMPARE(interface.styleStrategy(), QFont::PreferAntialias);

    const QFont data = Theme::defaultDataFont();
    const QString expected = QFontDatabase::families().contains(QStringLiteral("Cascadia Mono"))
                                 ? QStringLiteral("Cascadia Mono")
                                 : QStringLiteral("Consolas");
    QCOMPARE(data.families(), QStringList({expected, QStringLiteral("Microsoft YaHei UI")}));
    QCOMPARE(data.pointSize(), 12);
    QCOMPARE(data.styleHint(), QFont::Monospace);
    QVERIFY(data.fixedPitch());
    QCOMPARE(data.styleStrategy(), QFont::PreferAntialias);

    // The stored Windows families resolve to the installed substitutes.
    QCOMPARE(QFontInfo(interface).family(), QStringLiteral("WenQuanYi Micro Hei"));
    QVERIFY(QFontInfo(data).fixedPitch());
    QCOMPARE(QFontInfo(data).family(), QStringLiteral("DejaVu Sans Mono"));
}

void TestTheme::pixelFontFallsBack()
{
    // No pixel font ships yet, so both sizes take the fall-back family.
    QCOMPARE(Theme::fontFamily(8), QStringLiteral("Consolas"));
    QCOMPARE(Theme::fontFamily(12), QStringLiteral("Consolas"));
    QCOMPARE(Theme::fontFamily(10), QString());
    QCOMPARE(Theme::fontFamily(0), QString());
}

void TestTheme::sheetFillsEveryPlaceholder_data()
{
    QTest::addColumn<bool>("dark");
    QTest::newRow("light") << false;
    QTest::newRow("dark") << true;
}

void TestTheme::sheetFillsEveryPlaceholder()
{
    QFETCH(bool, dark);
    const Theme theme = Theme::make(dark);
    const QString sheet = theme.stylesheet();
    QVERIFY(!sheet.contains(QLatin1Char('$')));
    QVERIFY(sheet.contains(QStringLiteral("font-family: \"Microsoft YaHei UI\"")));
    for (const QColor& colour : {theme.bg, theme.panel, theme.side, theme.text, theme.muted, theme.line,
                                 theme.accent, theme.hover, theme.red, theme.edge, theme.rail}) {
        QVERIFY2(sheet.contains(name(colour)), qPrintable(name(colour)));
    }
    // Colours are written as lower-case #rrggbb and nothing else.
    const QRegularExpression colourPattern(QStringLiteral("#[0-9A-Fa-f]{3,8}\\b"));
    for (auto it = colourPattern.globalMatch(sheet); it.hasNext();) {
        const QString found = it.next().captured();
        QCOMPARE(found.size(), 7);
        QCOMPARE(found, found.toLower());
    }
    // The brand block keeps its fixed colours in both variants.
    QVERIFY(sheet.contains(QStringLiteral("QLabel#brandTitle { color: #f6f4e8;")));
    QVERIFY(sheet.contains(QStringLiteral("QLabel#brandSubtitle { color: #d7dfc4;")));
    QVERIFY(sheet.contains(QStringLiteral("vn--TearTabBar { qproperty-pageColor: %1; }").arg(name(theme.panel))));
    QVERIFY(sheet.contains(QStringLiteral("QFrame#agentCard { background: %1; border: 1px solid %2; border-radius: 12px; }")
                               .arg(name(theme.panel), name(theme.line))));
    QVERIFY(sheet.contains(QStringLiteral("QLabel#muted { color: %1; font-size: 13px; }").arg(name(theme.muted))));
}

void TestTheme::sheetParsesWithoutWarnings_data()
{
    sheetFillsEveryPlaceholder_data();
}

void TestTheme::sheetParsesWithoutWarnings()
{
    QFETCH(bool, dark);
    const QString sheet = Theme::make(dark).stylesheet();
    captured.clear();
    const QtMessageHandler previous = qInstallMessageHandler(captureMessages);
    {
        // Parsing happens when the sheet is set and when widgets are polished.
        QMainWindow window;
        window.setStyleSheet(sheet);
        auto* central = new QWidget;
        central->setObjectName(QStringLiteral("root"));
        auto* layout = new QVBoxLayout(central);
        layout->addWidget(button(QStringLiteral("主要"), QStringLiteral("primary")));
        layout->addWidget(button(QStringLiteral("次要"), QStringLiteral("outline")));
        layout->addWidget(label(QStringLiteral("标题"), QStringLiteral("section")));
        layout->addWidget(combo({QStringLiteral("一"), QStringLiteral("二")}, QString(), true));
        layout->addWidget(new SearchBox);
        layout->addWidget(new QSpinBox);
        layout->addWidget(new QSlider(Qt::Horizontal));
        layout->addWidget(new QCheckBox(QStringLiteral("选项")));
        layout->addWidget(new QPlainTextEdit);
        layout->addWidget(new QTreeWidget);
        layout->addWidget(new QProgressBar);
        auto* tabs = new QTabWidget;
        tabs->addTab(new QWidget, QStringLiteral("页"));
        layout->addWidget(tabs);
        layout->addWidget(new ConnectionBar);
        layout->addWidget(new QScrollBar);
        auto* option = new QToolButton;
        option->setProperty("searchOption", true);
        layout->addWidget(option);
        window.setCentralWidget(central);
        window.statusBar()->showMessage(QStringLiteral("就绪"));
        window.show();
        QMenu menu;
        menu.addAction(QStringLiteral("动作"))->setCheckable(true);
        menu.setStyleSheet(sheet);
        menu.ensurePolished();
        QApplication::processEvents();
        qApp->setStyleSheet(sheet);
        QApplication::processEvents();
        qApp->setStyleSheet(QString());
    }
    const QStringList warnings = captured;
    {
        // The same capture does see a sheet that Qt cannot parse.
        captured.clear();
        QWidget broken;
        broken.setStyleSheet(sheet.left(sheet.indexOf(QLatin1Char('}'))));
        broken.ensurePolished();
    }
    qInstallMessageHandler(previous);
    QVERIFY2(warnings.isEmpty(), qPrintable(warnings.join(QLatin1Char('\n'))));
    QVERIFY(!captured.isEmpty());
}

void TestTheme::sheetAppliesToKitWidgets()
{
    const Theme theme = Theme::make(true);
    QWidget window;
    window.setStyleSheet(theme.stylesheet());
    auto* layout = new QVBoxLayout(&window);
    auto* bar = new ConnectionBar;
    bar->addTab(QStringLiteral("COM3"));
    layout->addWidget(bar);
    auto* outline = button(QStringLiteral("取消"), QStringLiteral("outline"));
    layout->addWidget(outline);
    auto* option = new QToolButton;
    option->setText(QStringLiteral("Aa"));
    option->setCheckable(true);
    option->setProperty("searchOption", true);
    layout->addWidget(option);
    auto* plainTool = new QToolButton;
    layout->addWidget(plainTool);
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    // The search box's option toggles take the small toggle look.
    QCOMPARE(option->font().family(), QStringLiteral("Segoe UI"));
    QCOMPARE(option->font().pixelSize(), 12);
    QCOMPARE(option->palette().color(QPalette::ButtonText), theme.muted);
    QCOMPARE(plainTool->font().pixelSize(), 14);
    // The sheet hands the tab bar the page colour it joins the selected tab to.
    QCOMPARE(bar->pageColor(), theme.panel);
    QCOMPARE(outline->palette().color(QPalette::ButtonText), theme.text);
}

void TestTheme::sheetInstallsOneFilterAndFollowsLatestPalette()
{
    const Theme light = Theme::make(false);
    const Theme dark = Theme::make(true);
    light.stylesheet();
    const qsizetype children = qApp->children().size();
    dark.stylesheet();
    light.stylesheet();
    dark.stylesheet();
    QCOMPARE(qApp->children().size(), children);
    QVERIFY(buttonMotionTheme() == dark);
    light.stylesheet();
    QVERIFY(buttonMotionTheme() == light);
}

QTEST_MAIN(TestTheme)
#include "tst_Theme.moc"
