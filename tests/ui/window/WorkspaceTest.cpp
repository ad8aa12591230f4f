#include "core/Channel.h"
#include "tests/support/TestSupport.h"
#include "ui/kit/ConnectionBar.h"
#include "ui/kit/Theme.h"
#include "ui/pages/Pane.h"
#include "ui/window/WorkspaceFile.h"

#include "tests/support/FileSizeLimit.h"
#include "WorkspaceFixture.h"

#include <QAbstractButton>
#include <QComboBox>
#include <QDialog>
#include <QJsonArray>
#include <QFileInfo>
#include <QLineEdit>
#include <QMessageBox>
#include <QPointer>
#include <QRegularExpression>
#include <QStatusBar>
#include <QTest>

using namespace vn;
using vn::test::FileSizeLimit;
using vn::test::WorkspaceFixture;

namespace {

const QStringList NineKeys = {"allow_ai_control", "appearance",        "connection",
                              "mcp_port",         "mcp_protocols",     "settings_geometry",
                              "templates",        "views",             "widget_pages"};

QJsonObject defaultBackground()
{
    return {{"file", ""}, {"name", ""}, {"fit", "cover"}, {"opacity", 25}, {"position_x", 50}, {"position_y", 50}};
}

QJsonObject allProtocols(bool udp = true)
{
    return {{"serial", true}, {"tcp", true}, {"udp", udp}, {"ssh", true}};
}

// A workspace as a user who has used every part of it leaves it behind, in the
// form the program writes.
QJsonObject richWorkspace()
{
    Config connection;
    connection.kind = QStringLiteral("tcp-client");
    connection.name = QStringLiteral("bench");
    connection.host = QStringLiteral("127.0.0.1");
    connection.network_port = 7001;
    connection.baudrate = 57600;

    BackgroundSpec window;
    window.fit = QStringLiteral("tile");
    window.opacity = 40;
    window.position_x = 10;
    BackgroundSpec receive;
    receive.fit = QStringLiteral("contain");
    receive.name = QStringLiteral("sky.png");
    const QFont font = shapeDataFont(Theme::defaultDataFont(), QStringLiteral("DejaVu Sans Mono"), 15);
    // Keys of the session page's own settings; the page writes its other keys
    // with their defaults.
    const QJsonObject page{{"timestamps", false}, {"encoding", "gbk"}, {"hex_display", true}};

    return {
        {"connection", connection.json()},
        {"appearance", appearanceForFile(page, true, font, 300, window, receive)},
        {"views",
         QJsonObject{{"serial|COM9|9600", QJsonObject{{"terminal", false}, {"note", "kept"}}},
                     {"tcp-client|10.0.0.2|80", QJsonObject{{"send_text", "GET /"}}}}},
        {"widget_pages",
         QJsonArray{QJsonObject{{"kind", "waveform"}, {"source_key", "demo|wave"}, {"title", "曲线"}},
                    QJsonObject{{"kind", "json"}, {"source_key", "demo|json"}, {"frozen", true}, {"title", "JSON"}}}},
        {"templates", QJsonArray{QJsonObject{{"name", "ping"}, {"text", "PING"}, {"hex", false}}}},
        {"allow_ai_control", true},
        {"mcp_protocols", QJsonObject{{"serial", true}, {"tcp", false}, {"udp", true}, {"ssh", false}}},
        {"settings_geometry", "AdnQywADAAAAAAEsAAAA"},
        {"mcp_port", 9123},
    };
}

} // namespace

// The workspace file as the root window writes it, and what survives a start
// and a save.
class WorkspaceTest : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void firstWriteWithoutFile();
    void firstWriteRecordsTheListeningPort();
    void richWorkspaceSurvivesLoadAndSave();
    void legacyAppearance_data();
    void legacyAppearance();
    void windowStateFromLegacyValues();
    void protocolSwitchesDefaultOn();
    void loopPortReadsAsNull();
    void unlistedLineSettingsAreShownAndKept();
    void removedChannelKeepsItsEarlierView();
    void controlPagesOfEveryWindow();
    void visibleSettingsDialogStoresItsGeometry();
    void invalidBaudKeepsTheLastConnection();
    void failedWriteIsShownAndKeepsTheFile();
    void unreadableFileIsKeptAndToldOnce_data();
    void unreadableFileIsKeptAndToldOnce();
    void unmovableFileIsNeverWritten();
};

void WorkspaceTest::firstWriteWithoutFile()
{
    WorkspaceFixture fixture;
    Window* window = fixture.open();
    QVERIFY(!QFile::exists(fixture.path));
    QVERIFY(!window->theme.dark);
    QCOMPARE(window->parameterWidth, 246);
    QCOMPARE(window->dataFont, Theme::defaultDataFont());
    QVERIFY(!fixture.engine.allowAiControl);

    window->saveSettings();
    const QByteArray bytes = fixture.fileBytes();
    const QJsonObject file = fixture.fileObject();
    QCOMPARE(file.keys(), NineKeys);
    // Indented, four spaces a level, keys sorted: exactly the toolkit's form.
    QCOMPARE(bytes, QJsonDocument(file).toJson(QJsonDocument::Indented));
    QVERIFY(bytes.startsWith("{\n    \"allow_ai_control\": false,\n    \"appearance\": {\n        \""));

    // "appearance" is the first session page's settings with the window keys.
    const QFont font = Theme::defaultDataFont();
    QJsonObject appearance = window->pages.first()->settings();
    const QJsonObject windowKeys{{"font_family", font.family()},
                                 {"font_size", 12},
                                 {"font_spec", font.toString()},
                                 {"parameter_width", 246},
                                 {"pixel_theme", true},
                                 {"readable_type", true},
                                 {"receive_background", defaultBackground()},
                                 {"theme", "light"},
                                 {"window_background", defaultBackground()}};
    for (auto it = windowKeys.begin(); it != windowKeys.end(); ++it)
        appearance.insert(it.key(), it.value());
    const QJsonObject expected{
        {"allow_ai_control", false},
        {"appearance", appearance},
        {"connection", Config().json()},
        {"mcp_port", 8765},
        {"mcp_protocols", allProtocols()},
        {"settings_geometry", QJsonValue::Null},
        {"templates", QJsonArray()},
        {"views", QJsonObject()},
        {"widget_pages", QJsonArray()},
    };
    QCOMPARE(file, expected);
}

void WorkspaceTest::firstWriteRecordsTheListeningPort()
{
    WorkspaceFixture fixture;
    fixture.writeFile(QJsonObject{{"mcp_port", 9999}});
    QVERIFY(fixture.server.start(vn::test::freeTcpPort()));
    fixture.open()->saveSettings();
    QCOMPARE(fixture.fileObject().value("mcp_port").toInt(), int(fixture.server.serverPort()));

    fixture.server.close();
    fixture.window->saveSettings();
    QCOMPARE(fixture.fileObject().value("mcp_port").toInt(), 9999);
}

void WorkspaceTest::richWorkspaceSurvivesLoadAndSave()
{
    WorkspaceFixture fixture;
    const QJsonObject rich = richWorkspace();
    fixture.writeFile(rich);

    Window* window = fixture.open();
    QVERIFY(window->theme.dark);
    QCOMPARE(window->parameterWidth, 300);
    QCOMPARE(window->dataFont.family(), QStringLiteral("DejaVu Sans Mono"));
    QCOMPARE(window->dataFont.pointSize(), 15);
    QVERIFY(fixture.engine.allowAiControl);
    QVERIFY(!fixture.server.protocolEnabled(QStringLiteral("tcp")));
    QVERIFY(!fixture.server.protocolEnabled(QStringLiteral("ssh")));
    QCOMPARE(window->form().network_port, 7001);

    window->saveSettings();
    const QJsonObject after = fixture.fileObject();
    for (const QString& key : NineKeys) {
        if (key != QLatin1String("appearance") && key != QLatin1String("widget_pages"))
            QCOMPARE(after.value(key), rich.value(key));
    }
    // Control pages complete their settings the same way.
    const QJsonArray richPages = rich.value("widget_pages").toArray();
    const QJsonArray afterPages = after.value("widget_pages").toArray();
    QCOMPARE(afterPages.size(), richPages.size());
    for (qsizetype i = 0; i < richPages.size(); ++i) {
        const QJsonObject stored = richPages.at(i).toObject();
        for (auto it = stored.begin(); it != stored.end(); ++it)
            QCOMPARE(afterPages.at(i).toObject().value(it.key()), it.value());
    }
    // The page completes its settings with defaults; everything the file held
    // comes back unchanged.
    const QJsonObject richAppearance = rich.value("appearance").toObject();
    const QJsonObject afterAppearance = after.value("appearance").toObject();
    for (auto it = richAppearance.begin(); it != richAppearance.end(); ++it)
        QCOMPARE(afterAppearance.value(it.key()), it.value());

    // What a save writes is a fixed point: another start and save change no byte.
    WorkspaceFixture again;
    again.writeFile(fixture.fileBytes());
    again.open()->saveSettings();
    QCOMPARE(again.fileBytes(), fixture.fileBytes());
}

void WorkspaceTest::legacyAppearance_data()
{
    QTest::addColumn<QJsonObject>("appearance");
    QTest::addColumn<QString>("key");
    QTest::addColumn<QJsonValue>("written");

    const QJsonObject readable{{"font_family", "DejaVu Sans Mono"}, {"readable_type", true}};
    const auto with = [](QJsonObject object, const char* key, const QJsonValue& value) {
        object.insert(QLatin1String(key), value);
        return object;
    };
    QTest::newRow("theme Dark is light") << QJsonObject{{"theme", "Dark"}} << "theme" << QJsonValue("light");
    QTest::newRow("theme dark") << QJsonObject{{"theme", "dark"}} << "theme" << QJsonValue("dark");
    QTest::newRow("font size 40") << with(readable, "font_size", 40) << "font_size" << QJsonValue(32);
    QTest::newRow("font size 3") << with(readable, "font_size", 3) << "font_size" << QJsonValue(8);
    QTest::newRow("width 100") << QJsonObject{{"parameter_width", 100}} << "parameter_width" << QJsonValue(220);
    QTest::newRow("width 10000") << QJsonObject{{"parameter_width", 10000}} << "parameter_width"
                                 << QJsonValue(4096);
    const QJsonObject pixel{{"font_family", Theme::fontFamily(12)}, {"font_size", 18}};
    QTest::newRow("old pixel font gets readable type") << pixel << "readable_type" << QJsonValue(true);
    QTest::newRow("old pixel font gets the default family")
        << pixel << "font_family" << QJsonValue(Theme::defaultDataFont().family());
    QTest::newRow("old pixel font gets the default size") << pixel << "font_size" << QJsonValue(12);
    QTest::newRow("instruments are dropped")
        << QJsonObject{{"instruments", QJsonArray{QJsonObject{{"kind", "waveform"}}}}} << "instruments"
        << QJsonValue(QJsonValue::Undefined);
    QTest::newRow("page keys stay") << QJsonObject{{"timestamps", false}} << "timestamps" << QJsonValue(false);
}

void WorkspaceTest::legacyAppearance()
{
    QFETCH(QJsonObject, appearance);
    QFETCH(QString, key);
    QFETCH(QJsonValue, written);
    WorkspaceFixture fixture;
    fixture.writeFile(QJsonObject{{"appearance", appearance}, {"widget_pages", QJsonArray()}});
    fixture.open()->saveSettings();
    QCOMPARE(fixture.fileAppearance().value(key), written);

    // What was written reads back to the same values.
    WorkspaceFixture again;
    again.writeFile(fixture.fileBytes());
    again.open()->saveSettings();
    QCOMPARE(again.fileAppearance(), fixture.fileAppearance());
}

void WorkspaceTest::windowStateFromLegacyValues()
{
    WorkspaceFixture fixture;
    fixture.writeFile(QJsonObject{
        {"appearance", QJsonObject{{"theme", "DARK"}, {"parameter_width", 100}, {"font_family", Theme::fontFamily(12)},
                                   {"font_size", 18}}}});
    Window* window = fixture.open();
    QVERIFY(!window->theme.dark);
    QCOMPARE(window->parameterWidth, 220);
    QCOMPARE(window->dataFont, Theme::defaultDataFont());
}

void WorkspaceTest::protocolSwitchesDefaultOn()
{
    WorkspaceFixture fixture;
    fixture.writeFile(QJsonObject{{"mcp_protocols", QJsonObject{{"udp", false}}}});
    fixture.open();
    QVERIFY(!fixture.server.protocolEnabled(QStringLiteral("udp")));
    QVERIFY(fixture.server.protocolEnabled(QStringLiteral("serial")));
    QVERIFY(fixture.server.protocolEnabled(QStringLiteral("tcp")));
    QVERIFY(fixture.server.protocolEnabled(QStringLiteral("ssh")));
    fixture.window->saveSettings();
    QCOMPARE(fixture.fileObject().value("mcp_protocols").toObject(), allProtocols(false));
}

void WorkspaceTest::loopPortReadsAsNull()
{
    WorkspaceFixture fixture;
    Config saved;
    saved.port = QStringLiteral("loop://");
    saved.baudrate = 9600;
    fixture.writeFile(QJsonObject{{"connection", saved.json()}});
    Window* window = fixture.open();
    QCOMPARE(window->form().port, QStringLiteral("NULL"));
    QCOMPARE(window->form().baudrate, 9600);
    window->saveSettings();
    const QJsonObject connection = fixture.fileObject().value("connection").toObject();
    QCOMPARE(connection.value("port").toString(), QStringLiteral("NULL"));
    QCOMPARE(connection.value("baudrate").toInt(), 9600);
}

void WorkspaceTest::unlistedLineSettingsAreShownAndKept()
{
    WorkspaceFixture fixture;
    // A hand-edited connection whose line settings none of the lists offer.
    QJsonObject edited = Config().json();
    edited.insert("bytesize", 9);
    edited.insert("parity", "X");
    edited.insert("stopbits", 3);
    edited.insert("flow", "magic");
    fixture.writeFile(QJsonObject{{"connection", edited}});
    Window* window = fixture.open();
    const QStringList names{"dataBits", "parity", "stopBits", "flowControl"};
    QList<QComboBox*> boxes;
    QList<int> listed;
    for (const QString& name : names) {
        boxes.append(window->findChild<QComboBox*>(name));
        QVERIFY2(boxes.last(), qPrintable(name));
    }
    const auto shown = [&boxes]() {
        QStringList texts;
        for (QComboBox* box : std::as_const(boxes))
            texts.append(box->currentText());
        return texts;
    };
    QCOMPARE(shown(), QStringList({"9", "X", "3", "magic"}));
    Pane* first = window->current;

    // Another page shows its own values, and the lists hold only their own
    // entries again.
    Pane* second = window->newConnection();
    window->tabs()->setCurrentIndex(paneIndex(window->tabs(), first));
    second->config.bytesize = 7;
    second->config.parity = QString(); // no value at all: the list's default
    second->config.flow = QStringLiteral("rtscts");
    window->tabs()->setCurrentIndex(paneIndex(window->tabs(), second));
    QCOMPARE(shown(), QStringList({"7", "N", "1", "rtscts"}));
    for (QComboBox* box : std::as_const(boxes))
        listed.append(box->count());
    QCOMPARE(listed, QList<int>({4, 5, 3, 3}));

    // Back on the first page its values come back, and a save writes them as
    // they were loaded.
    window->tabs()->setCurrentIndex(paneIndex(window->tabs(), first));
    QCOMPARE(shown(), QStringList({"9", "X", "3", "magic"}));
    window->saveSettings();
    const QJsonObject connection = fixture.fileObject().value("connection").toObject();
    QCOMPARE(connection.value("bytesize"), QJsonValue(9));
    QCOMPARE(connection.value("parity"), QJsonValue("X"));
    QCOMPARE(connection.value("stopbits"), QJsonValue(3));
    QCOMPARE(connection.value("flow"), QJsonValue("magic"));
}

void WorkspaceTest::removedChannelKeepsItsEarlierView()
{
    WorkspaceFixture fixture;
    const QString key = Config::waveformDemo().key();
    const QJsonObject other{{"note", "another connection"}};
    fixture.writeFile(QJsonObject{{"views", QJsonObject{{key, QJsonObject{{"earlier", 1}}}, {"other", other}}},
                                  {"widget_pages", QJsonArray()}});
    Window* window = fixture.open();

    Channel* demo = fixture.engine.waveformDemo();
    QPointer<Pane> page;
    for (Pane* each : std::as_const(window->pages)) {
        if (!each->isControl() && each->channel == demo)
            page = each;
    }
    if (!page) {
        page = window->pages.first();
        page->setChannel(demo);
    }
    page->restore(QJsonObject{{"live", 1}});
    window->saveSettings();
    QJsonObject views = fixture.fileObject().value("views").toObject();
    QCOMPARE(views.value(key).toObject(), page->settings());
    QCOMPARE(views.value("other").toObject(), other);
    const QJsonObject live = page->settings();

    // The engine lets the channel go while the window is busy, so the page
    // stays and still points at the channel until its deferred delete runs;
    // it no longer speaks for the key.
    window->busy = true;
    fixture.engine.remove(demo->id);
    QVERIFY(page);
    QVERIFY(window->pages.contains(page.data()));
    QCOMPARE(page->channel.data(), demo);
    page->restore(QJsonObject{{"after", 2}});
    window->saveSettings();
    window->busy = false;
    views = fixture.fileObject().value("views").toObject();
    QCOMPARE(views.value(key).toObject(), live);
    QCOMPARE(views.value("other").toObject(), other);
}

void WorkspaceTest::controlPagesOfEveryWindow()
{
    WorkspaceFixture fixture;
    const QJsonObject first{{"kind", "waveform"}, {"source_key", "a"}, {"tab_title", "A"}, {"title", "A"}};
    fixture.writeFile(QJsonObject{{"widget_pages", QJsonArray{first}}});
    Window* window = fixture.open();
    auto* torn = new Window(&fixture.engine, &fixture.server, fixture.path, window);
    Pane* second = torn->newInstrument(QStringLiteral("json"), nullptr, false, QStringLiteral("b"));
    QVERIFY(second);

    // A torn-off window hands the write to its root, which walks every window.
    torn->saveSettings();
    Pane* restored = nullptr;
    for (Pane* page : std::as_const(window->pages)) {
        if (page->isControl())
            restored = page;
    }
    QVERIFY(restored);
    QCOMPARE(restored->settings().value("title").toString(), QStringLiteral("A"));
    QCOMPARE(fixture.fileObject().value("widget_pages").toArray(),
             QJsonArray({restored->settings(), second->settings()}));
}

void WorkspaceTest::visibleSettingsDialogStoresItsGeometry()
{
    WorkspaceFixture fixture;
    Window* window = fixture.open();
    window->openSettings();
    QDialog* dialog = window->settingsDialog();
    QVERIFY(dialog);
    QTRY_VERIFY(dialog->isVisible());
    window->saveSettings();
    const QString stored = fixture.fileObject().value("settings_geometry").toString();
    QCOMPARE(stored, QString::fromLatin1(dialog->saveGeometry().toBase64()));

    // Once stored it stays, also while the dialog is closed.
    dialog->hide();
    window->saveSettings();
    QCOMPARE(fixture.fileObject().value("settings_geometry").toString(), stored);
}

void WorkspaceTest::invalidBaudKeepsTheLastConnection()
{
    WorkspaceFixture fixture;
    Config saved;
    saved.baudrate = 38400;
    fixture.writeFile(QJsonObject{{"connection", saved.json()}});
    Window* window = fixture.open();
    auto* baud = window->findChild<QComboBox*>(QStringLiteral("baudRate"));
    if (!baud || !baud->lineEdit())
        QSKIP("the connection form has no baud box yet");

    baud->lineEdit()->setText(QStringLiteral("19200"));
    window->saveSettings();
    QCOMPARE(fixture.fileObject().value("connection").toObject().value("baudrate").toInt(), 19200);

    // The half-typed baud rate does not stop the write, and the connection last
    // written (not the one read at start) is written again.
    baud->lineEdit()->setText(QStringLiteral("19x"));
    window->parameterWidth = 300;
    window->saveSettings();
    const QJsonObject file = fixture.fileObject();
    QCOMPARE(file.value("appearance").toObject().value("parameter_width").toInt(), 300);
    QCOMPARE(file.value("connection").toObject().value("baudrate").toInt(), 19200);
}

void WorkspaceTest::failedWriteIsShownAndKeepsTheFile()
{
    WorkspaceFixture fixture;
    Window* window = fixture.open();
    window->saveSettings();
    const QByteArray before = fixture.fileBytes();
    QVERIFY(!before.isEmpty());

    window->parameterWidth = 400;
    {
        const FileSizeLimit limit(16);
        window->saveSettings();
    }
    const QString message = window->statusBar()->currentMessage();
    QVERIFY2(message.startsWith(QStringLiteral("操作失败：")), qPrintable(message));
    QVERIFY(message.size() > QStringLiteral("操作失败：").size());
    QCOMPARE(fixture.fileBytes(), before);
}

void WorkspaceTest::unreadableFileIsKeptAndToldOnce_data()
{
    QTest::addColumn<QByteArray>("content");
    // A hand edit with one comma too many, and a file another tool replaced.
    QTest::newRow("invalid JSON") << QByteArray("{\n    \"allow_ai_control\": true,\n}\n");
    QTest::newRow("not an object") << QByteArray("[{\"allow_ai_control\": true}]");
}

void WorkspaceTest::unreadableFileIsKeptAndToldOnce()
{
    QFETCH(QByteArray, content);
    WorkspaceFixture fixture;
    // An earlier kept copy, from a start in another second, stays as it is.
    const QString earlier = fixture.path + QStringLiteral(".unreadable-20200101-000000");
    QVERIFY(vn::test::writeBytes(earlier, "earlier"));
    fixture.writeFile(content);
    Window* window = fixture.open();
    QVERIFY(!fixture.engine.allowAiControl);

    QStringList kept = QDir(fixture.folder.path()).entryList({QStringLiteral("settings.json.unreadable-*")});
    kept.removeAll(QFileInfo(earlier).fileName());
    QCOMPARE(kept.size(), 1);
    QVERIFY2(QRegularExpression(QStringLiteral("^settings\\.json\\.unreadable-\\d{8}-\\d{6}$"))
                 .match(kept.first()).hasMatch(),
             qPrintable(kept.first()));
    const QString keptPath = fixture.folder.filePath(kept.first());
    QCOMPARE(vn::test::readBytes(keptPath), content);
    QCOMPARE(vn::test::readBytes(earlier), QByteArray("earlier"));
    QVERIFY(!QFile::exists(fixture.path));

    // Nothing is said before the window shows; once it does, the box names the copy.
    QCoreApplication::processEvents();
    QVERIFY(!window->findChild<QMessageBox*>(QStringLiteral("startupNoticeBox")));
    window->show();
    QMessageBox* box = nullptr;
    QTRY_VERIFY((box = window->findChild<QMessageBox*>(QStringLiteral("startupNoticeBox"))) && box->isVisible());
    QCOMPARE(box->windowTitle(), QStringLiteral("工作区文件无法读取"));
    QVERIFY2(box->text().startsWith(QStringLiteral("工作区文件无法读取（")), qPrintable(box->text()));
    QVERIFY2(box->text().endsWith(QStringLiteral("，已另存为 %1，当前使用默认设置。")
                                      .arg(QDir::toNativeSeparators(keptPath))),
             qPrintable(box->text()));
    box->button(QMessageBox::Ok)->click();
    QTRY_VERIFY(!window->findChild<QMessageBox*>(QStringLiteral("startupNoticeBox")));
    // Once only: the notice is gone with its box, and showing the window
    // again brings no second one.
    QTRY_VERIFY(!window->findChild<QObject*>(QStringLiteral("startupNotice")));
    window->hide();
    window->show();
    QCoreApplication::processEvents();
    QVERIFY(!window->findChild<QMessageBox*>(QStringLiteral("startupNoticeBox")));

    // The defaults are written in the file's place; the copies stay.
    window->saveSettings();
    QCOMPARE(fixture.fileObject().keys(), NineKeys);
    QCOMPARE(vn::test::readBytes(keptPath), content);
    QCOMPARE(vn::test::readBytes(earlier), QByteArray("earlier"));
}

void WorkspaceTest::unmovableFileIsNeverWritten()
{
    WorkspaceFixture fixture;
    // The kept name would be longer than the file system allows, so the file
    // cannot be moved aside, root or not.
    fixture.path = fixture.folder.filePath(QString(240, QLatin1Char('w')) + QStringLiteral(".json"));
    const QByteArray content("{\"views\": {,}}");
    fixture.writeFile(content);
    Window* window = fixture.open();
    window->show();
    QMessageBox* box = nullptr;
    QTRY_VERIFY((box = window->findChild<QMessageBox*>(QStringLiteral("startupNoticeBox"))) && box->isVisible());
    QVERIFY2(box->text().endsWith(QStringLiteral("也无法在旁边另存副本。当前使用默认设置，本次运行不保存工作区，以免覆盖该文件。")),
             qPrintable(box->text()));
    box->button(QMessageBox::Ok)->click();

    // No write replaces it, not even the one of closing.
    window->parameterWidth = 300;
    window->saveSettings();
    window->close();
    QCOMPARE(fixture.fileBytes(), content);
    QCOMPARE(QDir(fixture.folder.path()).entryList(QDir::Files).size(), 1);
}

QTEST_MAIN(WorkspaceTest)
#include "WorkspaceTest.moc"
