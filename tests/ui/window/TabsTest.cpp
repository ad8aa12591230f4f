#include "core/Channel.h"
#include "core/Engine.h"
#include "ui/kit/ConnectionBar.h"
#include "ui/kit/MoveEndWatcher.h"
#include "ui/pages/Pane.h"
#include "tests/support/TestSupport.h"
#include "tests/ui/window/WorkspaceFixture.h"

#include <QAbstractButton>
#include <QAction>
#include <QApplication>
#include <QKeyEvent>
#include <QCursor>
#include <QInputDialog>
#include <QLineEdit>
#include <QMenu>
#include <QSignalSpy>
#include <QTest>
#include <QTimer>

using namespace vn;
using vn::test::WorkspaceFixture;

namespace {

QStringList tabTexts(Window* window)
{
    QStringList texts;
    for (int index = 0; index < window->tabs()->count(); ++index)
        texts.append(window->tabs()->tabText(index));
    return texts;
}

QStringList controlKinds(Window* window)
{
    QStringList kinds;
    for (Pane* page : std::as_const(window->pages)) {
        if (page->isControl())
            kinds.append(page->kind + QLatin1Char('@') + page->sourceKey);
    }
    return kinds;
}

Channel* openDemo(Engine& engine, const QString& name)
{
    Config config;
    config.kind = QStringLiteral("demo");
    config.name = name;
    return engine.open(config);
}

// Types text as key presses, one character each, Chinese included.
void type(QWidget* widget, const QString& text)
{
    for (const QChar character : text) {
        QKeyEvent press(QEvent::KeyPress, Qt::Key_unknown, Qt::NoModifier, QString(character));
        QApplication::sendEvent(widget, &press);
        QKeyEvent release(QEvent::KeyRelease, Qt::Key_unknown, Qt::NoModifier, QString(character));
        QApplication::sendEvent(widget, &release);
    }
}

// The session page's repeat-send toggle, switched on.
QAbstractButton* startRepeat(Pane* page)
{
    auto* repeat = page->findChild<QAbstractButton*>(QStringLiteral("repeatSend"));
    if (repeat)
        repeat->setChecked(true);
    return repeat;
}

} // namespace

class TabsTest : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void newPageMenuFollowsTheCurrentPage_data();
    void newPageMenuFollowsTheCurrentPage();
    void controlTitlesAreNumberedAcrossWindows();
    void dataSourceOfANewControlPage();
    void renameByKeys_data();
    void renameByKeys();
    void renameConnectionFromTheMenu_data();
    void renameConnectionFromTheMenu();
    void detachedWindowSizeAndPlace();
    void moveEndDocksBack();
    void leavingAPageStopsItsRepeat();
    void closingATornOffWindowReturnsItsPages();
    void closingTheRootSavesFirstAndClosesChannels();
    void legacyWorkspaceRestoresEachPageOnce();
    void closedConvertedPageStaysClosedAfterReconnect();
    void widgetPagesOverrideLegacyKeys();
};

void TabsTest::newPageMenuFollowsTheCurrentPage_data()
{
    QTest::addColumn<QString>("entry");
    QTest::addColumn<QString>("kind");
    QTest::addColumn<QString>("title");
    QTest::addColumn<bool>("boundToDemo");
    QTest::newRow("session page") << "newReceivePage" << "" << "新收发页" << false;
    QTest::newRow("waveform") << "new_waveform" << "waveform" << "数值波形" << true;
    QTest::newRow("json") << "new_json" << "json" << "JSON" << true;
    QTest::newRow("xml") << "new_xml" << "xml" << "XML" << true;
    // A control panel needs a serial line; the demo is none.
    QTest::newRow("control") << "new_control" << "control" << "串口控制" << false;
}

void TabsTest::newPageMenuFollowsTheCurrentPage()
{
    QFETCH(QString, entry);
    QFETCH(QString, kind);
    QFETCH(QString, title);
    QFETCH(bool, boundToDemo);
    WorkspaceFixture fixture;
    Window* window = fixture.open();
    QPointer<Channel> demo = openDemo(fixture.engine, QStringLiteral("示例"));
    QTRY_VERIFY(window->findPane(demo));
    window->showPane(window->findPane(demo));
    QCOMPARE(window->current, window->findPane(demo));

    QMenu* menu = window->newPageMenu();
    QCOMPARE(menu->objectName(), QStringLiteral("newPageMenu"));
    auto* action = menu->findChild<QAction*>(entry);
    QVERIFY(action);
    QVERIFY(!action->icon().isNull());
    const qsizetype before = window->pages.size();
    action->trigger();
    delete menu;

    QCOMPARE(window->pages.size(), before + 1);
    Pane* made = window->pages.last();
    QCOMPARE(window->current, made);
    QCOMPARE(window->tabs()->currentIndex(), window->tabs()->count() - 1);
    QCOMPARE(made->kind, kind);
    QCOMPARE(window->tabs()->tabText(window->tabs()->currentIndex()), title);
    if (!kind.isEmpty()) {
        QCOMPARE(!made->sourceKey.isEmpty(), boundToDemo);
        QVERIFY(!window->tabs()->tabIcon(window->tabs()->currentIndex()).isNull());
    }
}

void TabsTest::controlTitlesAreNumberedAcrossWindows()
{
    WorkspaceFixture fixture;
    Window* root = fixture.open();
    const QString wave = QStringLiteral("waveform");
    root->newInstrument(wave, nullptr, true, QString());
    Pane* second = root->newInstrument(wave, nullptr, true, QString());
    // A page in a torn-off window still holds its title.
    Window* torn = root->detachConnection(paneIndex(root->tabs(), second), QPoint(300, 200), false);
    QVERIFY(torn);
    root->newInstrument(wave, nullptr, true, QString());
    QCOMPARE(tabTexts(root).mid(1), QStringList({"数值波形", "数值波形 3"}));
    QCOMPARE(tabTexts(torn), QStringList({"数值波形 2"}));

    torn->closeTab(0);
    QCOMPARE(root->newInstrument(QStringLiteral("values"), nullptr, true, QString())->title,
             QStringLiteral("数值波形 2"));
    QCOMPARE(root->newInstrument(QStringLiteral("structured"), nullptr, true, QString())->title,
             QStringLiteral("JSON"));
    QCOMPARE(root->newInstrument(QStringLiteral("plot"), nullptr, true, QString()), nullptr);
    delete torn;
}

void TabsTest::dataSourceOfANewControlPage()
{
    WorkspaceFixture fixture;
    Window* window = fixture.open();
    Config tcp;
    tcp.kind = QStringLiteral("tcp-client");
    tcp.host = QStringLiteral("127.0.0.1");
    tcp.network_port = 1;
    QPointer<Channel> client = fixture.engine.open(tcp);
    QVERIFY(client);
    Channel* waveDemo = fixture.engine.waveformDemo();

    QCOMPARE(window->newInstrument(QStringLiteral("control"), client, true, QString())->sourceKey, QString());
    QCOMPARE(window->newInstrument(QStringLiteral("control"), nullptr, true, QStringLiteral("serial:/dev/ttyS9"))
                 ->sourceKey,
             QStringLiteral("serial:/dev/ttyS9"));
    QCOMPARE(window->newInstrument(QStringLiteral("control"), nullptr, true, client->config.key())->sourceKey,
             QString());
    QCOMPARE(window->newInstrument(QStringLiteral("json"), waveDemo, true, QString())->sourceKey,
             fixture.engine.structuredDemo()->config.key());
    QCOMPARE(window->newInstrument(QStringLiteral("waveform"), fixture.engine.structuredDemo(), true, QString())
                 ->sourceKey,
             waveDemo->config.key());

    // Made without selecting it, a page leaves the selection where it was.
    window->activate(0);
    window->tabs()->setCurrentIndex(0);
    window->newInstrument(QStringLiteral("xml"), nullptr, false, QString());
    QCOMPARE(window->tabs()->currentIndex(), 0);
    QCOMPARE(window->current, window->pages.first());
}

void TabsTest::renameByKeys_data()
{
    QTest::addColumn<QString>("typed");
    QTest::addColumn<QString>("finish"); // a key name, or "focus" for a pop-up menu taking the focus
    QTest::addColumn<QString>("title");
    QTest::newRow("return") << "传感器" << "return" << "传感器";
    QTest::newRow("escape") << "传感器" << "escape" << "数值波形";
    QTest::newRow("focus out") << "调试口" << "focus" << "调试口";
    QTest::newRow("only blanks") << "   " << "return" << "数值波形";
    QTest::newRow("81 characters") << QString(81, QLatin1Char('x')) << "return" << QString(80, QLatin1Char('x'));
}

void TabsTest::renameByKeys()
{
    QFETCH(QString, typed);
    QFETCH(QString, finish);
    QFETCH(QString, title);
    WorkspaceFixture fixture;
    Window* root = fixture.open();
    root->newInstrument(QStringLiteral("waveform"), nullptr, true, QString());
    Window* torn = root->detachConnection(1, QPoint(200, 200), false);
    QVERIFY(QTest::qWaitForWindowActive(torn));

    torn->beginTabRename(0);
    QPointer<QLineEdit> editor = torn->tabs()->findChild<QLineEdit*>(QStringLiteral("tabTitleEditor"));
    QVERIFY(editor);
    QTRY_VERIFY(editor->hasFocus());
    QTest::keyClick(editor, Qt::Key_Backspace); // the whole title was selected
    QVERIFY(editor->text().isEmpty());
    type(editor, typed);
    if (finish == QLatin1String("return")) {
        QTest::keyClick(editor, Qt::Key_Return);
    } else if (finish == QLatin1String("escape")) {
        QTest::keyClick(editor, Qt::Key_Escape);
    } else {
        QMenu menu(torn);
        menu.addAction(QStringLiteral("其他"));
        QTimer::singleShot(0, &menu, &QMenu::close);
        menu.exec(torn->mapToGlobal(QPoint(40, 40)));
    }
    QTRY_VERIFY(editor.isNull());
    QCOMPARE(torn->tabs()->tabText(0), title);
    QCOMPARE(torn->windowTitle(), title + QStringLiteral(" · Varnelle"));
    QCOMPARE(torn->pages.first()->title, title);
    // A rename that took saves the workspace with the page under its new title.
    if (title != QStringLiteral("数值波形"))
        QVERIFY(fixture.fileBytes().contains(title.toUtf8()));
    delete torn;
}

void TabsTest::renameConnectionFromTheMenu_data()
{
    QTest::addColumn<QString>("typed");
    QTest::addColumn<bool>("accept");
    QTest::addColumn<QString>("name");
    QTest::newRow("trimmed") << "  板卡 A  " << true << "板卡 A";
    QTest::newRow("blank") << "   " << true << "示例";
    QTest::newRow("cancelled") << "板卡 B" << false << "示例";
}

void TabsTest::renameConnectionFromTheMenu()
{
    QFETCH(QString, typed);
    QFETCH(bool, accept);
    QFETCH(QString, name);
    WorkspaceFixture fixture;
    Window* window = fixture.open();
    window->show();
    QVERIFY(QTest::qWaitForWindowExposed(window));
    QPointer<Channel> demo = openDemo(fixture.engine, QStringLiteral("示例"));
    QTRY_VERIFY(window->findPane(demo));
    Pane* page = window->findPane(demo);
    window->showPane(page);

    QTimer::singleShot(0, this, [&]() {
        auto* menu = window->findChild<QMenu*>(QStringLiteral("tabMenu"));
        QVERIFY(menu);
        QAction* rename = nullptr;
        for (QAction* action : menu->actions()) {
            if (action->text() == QStringLiteral("重命名连接名称"))
                rename = action;
        }
        QVERIFY(rename);
        // The input dialog opens from the chosen entry, after the menu is gone.
        QTimer::singleShot(0, this, [&]() {
            auto* dialog = qobject_cast<QInputDialog*>(QApplication::activeModalWidget());
            QVERIFY(dialog);
            QCOMPARE(dialog->windowTitle(), QStringLiteral("重命名连接"));
            QCOMPARE(dialog->labelText(), QStringLiteral("名称"));
            QCOMPARE(dialog->textValue(), QStringLiteral("示例"));
            dialog->setTextValue(typed);
            accept ? dialog->accept() : dialog->reject();
        });
        rename->trigger();
        menu->close();
    });
    window->tabMenu(window->tabs()->tabRect(paneIndex(window->tabs(), page)).center());
    QTRY_COMPARE(demo->name, name);
    QCOMPARE(demo->config.name, name);
    auto* field = window->findChild<QLineEdit*>(QStringLiteral("connectionName"));
    QVERIFY(field);
    QCOMPARE(field->text(), name);
    QTRY_COMPARE(window->tabs()->tabText(paneIndex(window->tabs(), page)), name);
}

void TabsTest::detachedWindowSizeAndPlace()
{
    WorkspaceFixture fixture;
    Window* root = fixture.open();
    root->show();
    Pane* only = root->pages.first();
    QPointer<Window> torn = root->detachConnection(0, QPoint(400, 300), false);
    QVERIFY(torn);
    QCOMPARE(root->detachConnection(7, QPoint(), false), nullptr);
    QCOMPARE(torn->size(), QSize(1100, 760));
    QCOMPARE(torn->pos(), QPoint(300, 286));
    QVERIFY(torn->isVisible());
    QCOMPARE(torn->pages, QList<Pane*>{only});
    QCOMPARE(only->window, torn.data());
    QCOMPARE(root->windows.last(), torn);
    // The root is never left without a page: it gets a fresh session page.
    QCOMPARE(root->pages.size(), 1);
    QVERIFY(root->pages.first() != only);
    QVERIFY(!root->pages.first()->isControl());
    QVERIFY(torn->findChild<MoveEndWatcher*>(QStringLiteral("moveEndWatcher")));
    QVERIFY(!root->findChild<MoveEndWatcher*>(QStringLiteral("moveEndWatcher"), Qt::FindDirectChildrenOnly));
    delete torn;
}

void TabsTest::moveEndDocksBack()
{
    WorkspaceFixture fixture;
    Window* root = fixture.open();
    root->show();
    QVERIFY(QTest::qWaitForWindowExposed(root));
    root->newInstrument(QStringLiteral("json"), nullptr, true, QString());
    root->newInstrument(QStringLiteral("xml"), nullptr, true, QString());
    QPointer<Window> torn = root->detachConnection(1, QPoint(700, 400), false);
    torn->transferPane(nullptr, root);
    root->transferPane(root->pages.at(1), torn);
    QCOMPARE(tabTexts(torn), QStringList({"JSON", "XML"}));
    auto* watcher = torn->findChild<MoveEndWatcher*>(QStringLiteral("moveEndWatcher"));
    QVERIFY(watcher);

    // Over its own tab bar, or nowhere near a bar: the window stays.
    QCursor::setPos(torn->tabs()->mapToGlobal(torn->tabs()->rect().center()));
    watcher->finish();
    QCursor::setPos(QPoint(-4000, -4000));
    watcher->finish();
    QCoreApplication::processEvents();
    QVERIFY(torn);

    // Dropped on the root's bar: every page moves over, in order, and the window closes.
    QCursor::setPos(root->tabs()->mapToGlobal(QPoint(root->tabs()->width() / 2, root->tabs()->height() + 9)));
    watcher->finish();
    QTRY_VERIFY(torn.isNull());
    QCOMPARE(tabTexts(root), QStringList({"新收发页", "JSON", "XML"}));
    QCOMPARE(root->windows.size(), 1);
}

void TabsTest::leavingAPageStopsItsRepeat()
{
    WorkspaceFixture fixture;
    Window* window = fixture.open();
    // A UDP line to a loopback port nobody reads: sending always succeeds.
    Config udp;
    udp.kind = QStringLiteral("udp");
    udp.bind_port = test::freeUdpPort();
    udp.network_port = test::freeUdpPort();
    QPointer<Channel> line = fixture.engine.open(udp);
    QTRY_VERIFY(window->findPane(line));
    Pane* page = window->findPane(line);
    window->showPane(page);
    window->newInstrument(QStringLiteral("waveform"), line, false, QString());
    QTRY_VERIFY(page->findChild<QAbstractButton*>(QStringLiteral("repeatSend"))->isEnabled());

    QAbstractButton* repeat = startRepeat(page);
    QVERIFY(repeat);
    QVERIFY(repeat->isChecked());
    window->tabs()->setCurrentIndex(window->tabs()->count() - 1);
    QVERIFY(!repeat->isChecked());

    // Moving it to another window stops it too.
    window->showPane(page);
    repeat->setChecked(true);
    QVERIFY(repeat->isChecked());
    QPointer<Window> torn = window->detachConnection(paneIndex(window->tabs(), page), QPoint(100, 100), false);
    QVERIFY(!repeat->isChecked());
    delete torn;
}

void TabsTest::closingATornOffWindowReturnsItsPages()
{
    WorkspaceFixture fixture;
    Window* root = fixture.open();
    root->newInstrument(QStringLiteral("waveform"), nullptr, true, QString());
    QPointer<Window> torn = root->detachConnection(1, QPoint(100, 100), false);
    Pane* moved = torn->pages.first();
    QVERIFY(torn->close());
    QTRY_VERIFY(torn.isNull());
    QCOMPARE(moved->window, root);
    QCOMPARE(root->pages.last(), moved);
    QCOMPARE(root->windows.size(), 1);
}

void TabsTest::closingTheRootSavesFirstAndClosesChannels()
{
    WorkspaceFixture fixture;
    Window* root = fixture.open();
    fixture.engine.allowAiControl = true;
    QPointer<Channel> demo = openDemo(fixture.engine, QStringLiteral("示例"));
    QTRY_VERIFY(root->findPane(demo));
    root->newInstrument(QStringLiteral("xml"), demo, true, QString());
    QPointer<Window> torn = root->detachConnection(paneIndex(root->tabs(), root->pages.last()), QPoint(), false);
    Pane* kept = torn->pages.first();

    QVERIFY(root->close());
    // The file keeps the user's AI-control choice; the engine drops it afterwards.
    QCOMPARE(fixture.fileObject().value(QStringLiteral("allow_ai_control")).toBool(), true);
    QVERIFY(!fixture.engine.allowAiControl);
    QVERIFY(demo);
    QCOMPARE(demo->state, QStringLiteral("closed"));
    // The torn-off window closed without handing its page to the closing root.
    QTRY_VERIFY(torn.isNull());
    QVERIFY(!root->pages.contains(kept));
}

void TabsTest::legacyWorkspaceRestoresEachPageOnce()
{
    WorkspaceFixture fixture;
    Config connection;
    connection.kind = QStringLiteral("tcp-client");
    connection.host = QStringLiteral("127.0.0.1");
    connection.network_port = 1;
    const QString key = connection.key();
    // An older file keeps the same page settings in "appearance" and in "views".
    const QJsonObject legacy{{"show_wave", true}, {"parser", 2}};
    fixture.writeFile(QJsonObject{
        {"connection", connection.json()},
        {"appearance", legacy},
        {"views", QJsonObject{{key, legacy}, {"udp:127.0.0.1:5", QJsonObject{{"instruments", QJsonArray{
                                                                     QJsonObject{{"kind", "xml"}}}}}}}},
    });
    Window* window = fixture.open();
    QStringList kinds = controlKinds(window);
    kinds.sort();
    QCOMPARE(kinds, QStringList({"json@" + key, "waveform@" + key, "xml@udp:127.0.0.1:5"}));
    QCOMPARE(window->tabs()->currentIndex(), 0);
    QVERIFY(!window->current->isControl());

    // Later restores of that connection make no further pages.
    window->restoreInstruments(legacy, key);
    QCOMPARE(controlKinds(window).size(), 3);
}

void TabsTest::closedConvertedPageStaysClosedAfterReconnect()
{
    WorkspaceFixture fixture;
    Config connection;
    connection.kind = QStringLiteral("udp");
    connection.host = QStringLiteral("127.0.0.1");
    connection.network_port = vn::test::freeUdpPort();
    connection.bind_host = QStringLiteral("127.0.0.1");
    connection.bind_port = vn::test::freeUdpPort();
    const QString key = connection.key();
    // A file from before control pages were kept on their own: no "widget_pages".
    fixture.writeFile(QJsonObject{{"views", QJsonObject{{key, QJsonObject{{"show_wave", true}}}}}});
    Window* window = fixture.open();
    QCOMPARE(controlKinds(window), QStringList({"waveform@" + key}));

    Pane* converted = nullptr;
    for (Pane* page : std::as_const(window->pages)) {
        if (page->isControl())
            converted = page;
    }
    window->closeTab(paneIndex(window->tabs(), converted));
    QCOMPARE(controlKinds(window), QStringList());

    // Opening the connection restores its stored page settings, which still
    // hold the older keys; the page the user closed does not come back.
    Channel* channel = fixture.engine.open(connection);
    QVERIFY(channel);
    QVERIFY(window->findPane(channel));
    QCOMPARE(controlKinds(window), QStringList());
}

void TabsTest::widgetPagesOverrideLegacyKeys()
{
    WorkspaceFixture fixture;
    fixture.writeFile(QJsonObject{
        {"views", QJsonObject{{"tcp-client:127.0.0.1:1", QJsonObject{{"show_wave", true}, {"parser", 1}}}}},
        {"widget_pages", QJsonArray{QJsonObject{{"kind", "values"}, {"source_key", "demo:wave"}},
                                    QJsonObject{{"kind", "control"}, {"source_key", "tcp-client:127.0.0.1:1"}},
                                    QJsonObject{{"kind", "clock"}}}},
    });
    Window* window = fixture.open();
    // Older "values" pages come after the others, as waveform pages.
    QCOMPARE(controlKinds(window), QStringList({"control@", "waveform@demo:wave"}));
    QCOMPARE(tabTexts(window).mid(1), QStringList({"串口控制", "数值波形"}));
}

QTEST_MAIN(TabsTest)
#include "TabsTest.moc"
