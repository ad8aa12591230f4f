#include "ui/kit/Theme.h"
#include "ui/window/WorkspaceFile.h"

#include "tests/support/FileSizeLimit.h"
#include "tests/support/TestSupport.h"

#include <QDateTime>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QDir>
#include <QTemporaryDir>
#include <QTest>

using namespace vn;
using vn::test::FileSizeLimit;

namespace {

QJsonObject parse(const char* json)
{
    return QJsonDocument::fromJson(QByteArray(json)).object();
}

} // namespace

// The workspace file's reading rules and the writer's pieces, without a window.
class WorkspaceFileTest : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void parameterWidth_data();
    void parameterWidth();
    void palette_data();
    void palette();
    void savedFontIsApplied();
    void fontSizeIsLimited_data();
    void fontSizeIsLimited();
    void fontIsIgnored_data();
    void fontIsIgnored();
    void oldPixelSettingWithReadableTypeIsKept();
    void badFontSpecKeepsTheRest();
    void pixelFamilies();
    void shapedFontIsReadBack_data();
    void shapedFontIsReadBack();
    void appearanceForFileSetsTheWindowKeys();
    void readingFiles_data();
    void readingFiles();
    void writingIsIndentedAndSorted();
    void failedWriteKeepsTheOldFile();
    void missingFolderIsCreated();
    void unreadableFileIsKeptAside_data();
    void unreadableFileIsKeptAside();
    void earlierKeptCopyIsNeverOverwritten();
    void fileThatCannotMoveStaysAndHoldsWrites();
};

void WorkspaceFileTest::parameterWidth_data()
{
    QTest::addColumn<QByteArray>("appearance");
    QTest::addColumn<int>("width");
    QTest::newRow("missing") << QByteArray("{}") << 246;
    QTest::newRow("kept") << QByteArray(R"({"parameter_width": 300})") << 300;
    QTest::newRow("lower limit") << QByteArray(R"({"parameter_width": 220})") << 220;
    QTest::newRow("too narrow") << QByteArray(R"({"parameter_width": 100})") << 220;
    QTest::newRow("negative") << QByteArray(R"({"parameter_width": -5})") << 220;
    QTest::newRow("too wide") << QByteArray(R"({"parameter_width": 10000})") << 4096;
    QTest::newRow("beyond int") << QByteArray(R"({"parameter_width": 1e20})") << 4096;
    QTest::newRow("text") << QByteArray(R"({"parameter_width": "300"})") << 246;
    QTest::newRow("fraction") << QByteArray(R"({"parameter_width": 300.5})") << 246;
    QTest::newRow("null") << QByteArray(R"({"parameter_width": null})") << 246;
}

void WorkspaceFileTest::parameterWidth()
{
    QFETCH(QByteArray, appearance);
    QFETCH(int, width);
    QCOMPARE(readAppearance(QJsonDocument::fromJson(appearance).object()).parameterWidth, width);
}

void WorkspaceFileTest::palette_data()
{
    QTest::addColumn<QByteArray>("appearance");
    QTest::addColumn<bool>("dark");
    QTest::newRow("missing") << QByteArray("{}") << false;
    QTest::newRow("dark") << QByteArray(R"({"theme": "dark"})") << true;
    QTest::newRow("light") << QByteArray(R"({"theme": "light"})") << false;
    QTest::newRow("other case") << QByteArray(R"({"theme": "Dark"})") << false;
    QTest::newRow("padded") << QByteArray(R"({"theme": " dark"})") << false;
    QTest::newRow("boolean") << QByteArray(R"({"theme": true})") << false;
}

void WorkspaceFileTest::palette()
{
    QFETCH(QByteArray, appearance);
    QFETCH(bool, dark);
    QCOMPARE(readAppearance(QJsonDocument::fromJson(appearance).object()).dark, dark);
}

void WorkspaceFileTest::savedFontIsApplied()
{
    const QFont font = readAppearance(parse(
                                          R"({"font_family": "DejaVu Sans Mono", "font_size": 14,
                                              "readable_type": true})"))
                           .dataFont;
    QCOMPARE(font.families(), QStringList({"DejaVu Sans Mono", "Microsoft YaHei UI"}));
    QCOMPARE(font.family(), QStringLiteral("DejaVu Sans Mono"));
    QCOMPARE(font.pointSize(), 14);
    QCOMPARE(font.styleStrategy() & QFont::NoAntialias, 0);
    QVERIFY(font.styleStrategy() & QFont::PreferAntialias);

    // Without "readable_type" an ordinary family is still taken; only the old
    // pixel default is dropped.
    const QFont plain = readAppearance(parse(R"({"font_family": "DejaVu Sans Mono"})")).dataFont;
    QCOMPARE(plain.family(), QStringLiteral("DejaVu Sans Mono"));
    QCOMPARE(plain.pointSize(), 12);
}

void WorkspaceFileTest::fontSizeIsLimited_data()
{
    QTest::addColumn<QJsonValue>("size");
    QTest::addColumn<int>("points");
    QTest::newRow("40") << QJsonValue(40) << 32;
    QTest::newRow("3") << QJsonValue(3) << 8;
    QTest::newRow("8") << QJsonValue(8) << 8;
    QTest::newRow("32") << QJsonValue(32) << 32;
    QTest::newRow("missing") << QJsonValue(QJsonValue::Undefined) << 12;
    QTest::newRow("text") << QJsonValue(QStringLiteral("20")) << 12;
}

void WorkspaceFileTest::fontSizeIsLimited()
{
    QFETCH(QJsonValue, size);
    QFETCH(int, points);
    QJsonObject appearance{{"font_family", "DejaVu Sans Mono"}, {"readable_type", true}};
    if (!size.isUndefined())
        appearance.insert(QStringLiteral("font_size"), size);
    QCOMPARE(readAppearance(appearance).dataFont.pointSize(), points);
}

void WorkspaceFileTest::fontIsIgnored_data()
{
    QTest::addColumn<QJsonObject>("appearance");
    const QString pixel = Theme::fontFamily(12);
    QTest::newRow("no family") << QJsonObject{{"font_size", 20}, {"readable_type", true}};
    QTest::newRow("empty family")
        << QJsonObject{{"font_family", ""}, {"font_size", 20}, {"readable_type", true}};
    QTest::newRow("family not text")
        << QJsonObject{{"font_family", 5}, {"font_size", 20}, {"readable_type", true}};
    QTest::newRow("old pixel default")
        << QJsonObject{{"font_family", pixel}, {"font_size", 18}};
    QTest::newRow("old pixel default, readable false")
        << QJsonObject{{"font_family", pixel}, {"font_size", 18}, {"readable_type", false}};
    QTest::newRow("old pixel default, readable not a bool")
        << QJsonObject{{"font_family", pixel}, {"font_size", 18}, {"readable_type", "true"}};
    QTest::newRow("old pixel default with a font_spec")
        << QJsonObject{{"font_family", pixel},
                       {"font_size", 18},
                       {"font_spec", QFont(QStringLiteral("Serif"), 30).toString()}};
}

void WorkspaceFileTest::fontIsIgnored()
{
    QFETCH(QJsonObject, appearance);
    const QFont standard = Theme::defaultDataFont();
    const QFont font = readAppearance(appearance).dataFont;
    QCOMPARE(font.families(), standard.families());
    QCOMPARE(font.pointSize(), standard.pointSize());
    QCOMPARE(font, standard);
}

void WorkspaceFileTest::oldPixelSettingWithReadableTypeIsKept()
{
    const QString pixel = Theme::fontFamily(12);
    const QFont kept = readAppearance(QJsonObject{
                                          {"font_family", pixel}, {"font_size", 18}, {"readable_type", true}})
                           .dataFont;
    QCOMPARE(kept.family(), pixel);
    QCOMPARE(kept.pointSize(), 18);

    // Another size is not the old default either.
    const QFont other = readAppearance(QJsonObject{{"font_family", pixel}, {"font_size", 17}}).dataFont;
    QCOMPARE(other.family(), pixel);
    QCOMPARE(other.pointSize(), 17);
}

void WorkspaceFileTest::badFontSpecKeepsTheRest()
{
    QFont bold(QStringLiteral("Serif"), 30);
    bold.setBold(true);
    const QFont fromSpec = readAppearance(QJsonObject{{"font_family", "DejaVu Sans Mono"},
                                                      {"font_size", 15},
                                                      {"font_spec", bold.toString()}})
                               .dataFont;
    QVERIFY(fromSpec.bold());
    QCOMPARE(fromSpec.family(), QStringLiteral("DejaVu Sans Mono"));
    QCOMPARE(fromSpec.pointSize(), 15);

    const QFont garbled = readAppearance(QJsonObject{{"font_family", "DejaVu Sans Mono"},
                                                     {"font_size", 15},
                                                     {"font_spec", ",,,"}})
                              .dataFont;
    QVERIFY(!garbled.bold());
    QCOMPARE(garbled.family(), QStringLiteral("DejaVu Sans Mono"));
    QCOMPARE(garbled.pointSize(), 15);
}

void WorkspaceFileTest::pixelFamilies()
{
    const QString small = QStringLiteral("Fusion Pixel 8px Monospaced zh_hans");
    const QString large = QStringLiteral("Fusion Pixel 12px Monospaced zh_hans");
    const QString prefix = sharedPrefix(small, large);
    QCOMPARE(prefix, QStringLiteral("Fusion Pixel "));
    QCOMPARE(sharedPrefix(large, large), large);
    QCOMPARE(sharedPrefix(QString(), large), QString());

    QVERIFY(isPixelFamily(large, prefix));
    QVERIFY(isPixelFamily(QStringLiteral("Fusion Pixel 10px Proportional"), prefix));
    QVERIFY(!isPixelFamily(QStringLiteral("fusion pixel 12px Monospaced zh_hans"), prefix));
    QVERIFY(!isPixelFamily(QStringLiteral("Fusion"), prefix));
    QVERIFY(!isPixelFamily(large, QString()));

    // A pixel font that could not be registered is reported as the fall-back
    // family, which is an ordinary font and keeps its antialiasing.
    if (Theme::fontFamily(12) == QLatin1String("Consolas")) {
        QCOMPARE(pixelFontPrefix(), QString());
        QVERIFY(shapeDataFont(QFont(), QStringLiteral("Consolas"), 12).styleStrategy()
                & QFont::PreferAntialias);
    } else {
        QVERIFY(!pixelFontPrefix().isEmpty());
        QVERIFY(shapeDataFont(QFont(), Theme::fontFamily(12), 12).styleStrategy()
                & QFont::NoAntialias);
    }
}

void WorkspaceFileTest::shapedFontIsReadBack_data()
{
    QTest::addColumn<QString>("family");
    QTest::newRow("plain family") << QStringLiteral("DejaVu Sans Mono");
    // The saved font text separates its fields by commas and does not escape the family.
    QTest::newRow("comma in the family") << QStringLiteral("Fusion Pixe, 12px Monospaced zh_hans");
}

void WorkspaceFileTest::shapedFontIsReadBack()
{
    QFETCH(QString, family);
    QFont italic(QStringLiteral("Serif"));
    italic.setItalic(true);
    italic.setBold(true);
    const QFont shaped = shapeDataFont(italic, family, 40);
    QCOMPARE(shaped.pointSize(), 32);
    QCOMPARE(shaped.families(), QStringList({family, "Microsoft YaHei UI"}));

    const QJsonObject written = appearanceForFile({}, false, shaped, 246, {}, {});
    const QFont read = readAppearance(written).dataFont;
    QCOMPARE(read.families(), shaped.families());
    QCOMPARE(read.pointSize(), 32);
    QVERIFY(read.italic());
    QVERIFY(read.bold());
    // What was read is written again unchanged.
    QCOMPARE(appearanceForFile({}, false, read, 246, {}, {}), written);
}

void WorkspaceFileTest::appearanceForFileSetsTheWindowKeys()
{
    BackgroundSpec window;
    window.file = QStringLiteral("backgrounds/a.png");
    window.opacity = 60;
    BackgroundSpec receive;
    receive.fit = QStringLiteral("tile");
    QFont font = shapeDataFont(Theme::defaultDataFont(), QStringLiteral("DejaVu Sans Mono"), 13);

    const QJsonObject page = parse(R"({"instruments": [{"kind": "waveform"}], "terminal": true,
                                       "theme": "whatever", "parameter_width": 999})");
    const QJsonObject written = appearanceForFile(page, true, font, 300, window, receive);
    const QJsonObject expected{
        {"terminal", true},
        {"theme", "dark"},
        {"pixel_theme", true},
        {"readable_type", true},
        {"font_spec", font.toString()},
        {"font_family", "DejaVu Sans Mono"},
        {"font_size", 13},
        {"parameter_width", 300},
        {"window_background", window.json()},
        {"receive_background", receive.json()},
    };
    QCOMPARE(written, expected);
    QCOMPARE(appearanceForFile({}, false, font, 246, {}, {}).value("theme").toString(),
             QStringLiteral("light"));
}

void WorkspaceFileTest::readingFiles_data()
{
    QTest::addColumn<QByteArray>("content");
    QTest::addColumn<QJsonObject>("object");
    QTest::newRow("object") << QByteArray(R"({"mcp_port": 9000})") << QJsonObject{{"mcp_port", 9000}};
    QTest::newRow("array") << QByteArray("[1, 2]") << QJsonObject();
    QTest::newRow("broken") << QByteArray(R"({"mcp_port": )") << QJsonObject();
    QTest::newRow("empty") << QByteArray() << QJsonObject();
    QTest::newRow("not JSON") << QByteArray("\xff\xfe garbage") << QJsonObject();
}

void WorkspaceFileTest::readingFiles()
{
    QFETCH(QByteArray, content);
    QFETCH(QJsonObject, object);
    QTemporaryDir folder;
    const QString path = folder.filePath(QStringLiteral("settings.json"));
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write(content);
    file.close();
    QCOMPARE(readWorkspaceFile(path), object);
    QCOMPARE(readWorkspaceFile(folder.filePath(QStringLiteral("missing.json"))), QJsonObject());
}

void WorkspaceFileTest::writingIsIndentedAndSorted()
{
    QTemporaryDir folder;
    const QString path = folder.filePath(QStringLiteral("settings.json"));
    const QJsonObject object{{"views", QJsonObject{{"b", 1}, {"a", 2}}}, {"allow_ai_control", false}};
    QCOMPARE(writeWorkspaceFile(path, object), QString());
    QFile file(path);
    QVERIFY(file.open(QIODevice::ReadOnly));
    QCOMPARE(file.readAll(), QByteArray("{\n"
                                        "    \"allow_ai_control\": false,\n"
                                        "    \"views\": {\n"
                                        "        \"a\": 2,\n"
                                        "        \"b\": 1\n"
                                        "    }\n"
                                        "}\n"));
}

void WorkspaceFileTest::failedWriteKeepsTheOldFile()
{
    QTemporaryDir folder;
    const QString path = folder.filePath(QStringLiteral("settings.json"));
    QCOMPARE(writeWorkspaceFile(path, QJsonObject{{"mcp_port", 1}}), QString());
    QString failure;
    {
        // Folder permissions do not stop root; a file size limit stops everyone.
        const FileSizeLimit limit(8);
        failure = writeWorkspaceFile(path, QJsonObject{{"mcp_port", 2}});
    }
    QVERIFY(!failure.isEmpty());
    QCOMPARE(readWorkspaceFile(path), QJsonObject({{"mcp_port", 1}}));
    QCOMPARE(QDir(folder.path()).entryList(QDir::Files), QStringList({"settings.json"}));

    // A folder that cannot be made: its place is taken by a file.
    QFile blocker(folder.filePath(QStringLiteral("blocker")));
    QVERIFY(blocker.open(QIODevice::WriteOnly));
    blocker.close();
    QVERIFY(!writeWorkspaceFile(folder.filePath(QStringLiteral("blocker/settings.json")), {}).isEmpty());
}

void WorkspaceFileTest::missingFolderIsCreated()
{
    QTemporaryDir folder;
    const QString path = folder.filePath(QStringLiteral("a/b/settings.json"));
    QCOMPARE(writeWorkspaceFile(path, QJsonObject{{"mcp_port", 3}}), QString());
    QCOMPARE(readWorkspaceFile(path), QJsonObject({{"mcp_port", 3}}));
}

void WorkspaceFileTest::unreadableFileIsKeptAside_data()
{
    QTest::addColumn<QByteArray>("content");
    QTest::addColumn<QString>("reason");
    QTest::newRow("one comma too many") << QByteArray("{\n    \"mcp_port\": 9000,\n}\n")
                                        << QStringLiteral("JSON 格式错误（第 3 行第 2 列）");
    QTest::newRow("cut off") << QByteArray(R"({"views": {"serial:com3": )")
                             << QStringLiteral("JSON 格式错误（第 1 行第 27 列）");
    QTest::newRow("an array") << QByteArray("[1, 2]") << QStringLiteral("内容不是 JSON 对象");
    QTest::newRow("a list of objects") << QByteArray(R"([{"mcp_port": 9000}])")
                                       << QStringLiteral("内容不是 JSON 对象");
    QTest::newRow("empty") << QByteArray("\n") << QStringLiteral("文件为空");
}

void WorkspaceFileTest::unreadableFileIsKeptAside()
{
    QFETCH(QByteArray, content);
    QFETCH(QString, reason);
    QTemporaryDir folder;
    const QString path = folder.filePath(QStringLiteral("settings.json"));
    QVERIFY(vn::test::writeBytes(path, content));
    const QDateTime when(QDate(2026, 12, 10), QTime(21, 45, 1));

    const WorkspaceStart start = startWorkspace(path, when);
    QCOMPARE(start.settings, QJsonObject());
    QVERIFY(start.writable);
    QCOMPARE(start.kept, folder.filePath(QStringLiteral("settings.json.unreadable-20261210-214501")));
    QCOMPARE(vn::test::readBytes(start.kept), content);
    QVERIFY(!QFile::exists(path));
    QCOMPARE(start.notice, QStringLiteral("工作区文件无法读取（%1），已另存为 %2，当前使用默认设置。")
                               .arg(reason, QDir::toNativeSeparators(start.kept)));

    // A readable file stays where it is and says nothing.
    QVERIFY(vn::test::writeBytes(path, R"({"mcp_port": 9000})"));
    const WorkspaceStart readable = startWorkspace(path, when);
    QCOMPARE(readable.settings, QJsonObject({{"mcp_port", 9000}}));
    QVERIFY(readable.kept.isEmpty());
    QVERIFY(readable.notice.isEmpty());
    QVERIFY(readable.writable);
    // No file at all is no news either.
    const WorkspaceStart missing = startWorkspace(folder.filePath(QStringLiteral("none.json")), when);
    QVERIFY(missing.notice.isEmpty());
    QVERIFY(missing.writable);
    QCOMPARE(QDir(folder.path()).entryList(QDir::Files).size(), 2);
}

void WorkspaceFileTest::earlierKeptCopyIsNeverOverwritten()
{
    QTemporaryDir folder;
    const QString path = folder.filePath(QStringLiteral("settings.json"));
    const QDateTime when(QDate(2026, 12, 10), QTime(21, 45, 1));
    // Two broken starts within the same second, and a folder in the way of
    // the third name.
    QVERIFY(vn::test::writeBytes(path, "first {"));
    QCOMPARE(startWorkspace(path, when).kept, keptWorkspaceName(path, when, 1));
    QVERIFY(QDir().mkdir(keptWorkspaceName(path, when, 2)));
    QVERIFY(vn::test::writeBytes(path, "second {"));
    const WorkspaceStart second = startWorkspace(path, when);
    QCOMPARE(second.kept, keptWorkspaceName(path, when, 3));
    QCOMPARE(second.kept, path + QStringLiteral(".unreadable-20261210-214501-3"));
    QCOMPARE(vn::test::readBytes(keptWorkspaceName(path, when, 1)), QByteArray("first {"));
    QCOMPARE(vn::test::readBytes(second.kept), QByteArray("second {"));
}

void WorkspaceFileTest::fileThatCannotMoveStaysAndHoldsWrites()
{
    // Folder permissions do not stop root; a name the file system cannot hold
    // stops everyone: the file's own name fits, the kept name is too long.
    QTemporaryDir folder;
    const QString path = folder.filePath(QString(240, QLatin1Char('w')) + QStringLiteral(".json"));
    QVERIFY(vn::test::writeBytes(path, "[]"));
    const WorkspaceStart start = startWorkspace(path, QDateTime::currentDateTime());
    QVERIFY(!start.writable);
    QVERIFY(start.kept.isEmpty());
    QCOMPARE(vn::test::readBytes(path), QByteArray("[]"));
    QCOMPARE(start.notice, QStringLiteral("工作区文件 %1 无法读取（内容不是 JSON 对象），也无法在旁边另存副本。"
                                          "当前使用默认设置，本次运行不保存工作区，以免覆盖该文件。")
                               .arg(QDir::toNativeSeparators(path)));
    QCOMPARE(QDir(folder.path()).entryList(QDir::Files | QDir::Dirs | QDir::NoDotAndDotDot).size(), 1);
}

QTEST_MAIN(WorkspaceFileTest)
#include "WorkspaceFileTest.moc"
