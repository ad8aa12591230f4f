#include "PageFixture.h"

#include "ui/kit/Combo.h"
#include "ui/kit/IconButton.h"
#include "ui/pages/PacketTemplates.h"
#include "ui/pages/SendBar.h"
#include "tests/support/FileSizeLimit.h"

#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QInputDialog>
#include <QJsonDocument>
#include <QKeySequence>
#include <QMenu>
#include <QPlainTextEdit>
#include <QStandardPaths>

#include <cerrno>

using namespace vn;
using namespace vn::test;
using vn::test::FileSizeLimit;

namespace {

// Opens the page's template menu and runs `choose` on it once it shows.
void withMenu(Pane* page, const std::function<void(QMenu*)>& choose)
{
    bool seen = false;
    whenShown<QMenu>(QStringLiteral("templateMenu"), [&seen, choose](QMenu* menu) {
        seen = true;
        choose(menu);
        menu->close();
    });
    QTest::mouseClick(page->sendBar()->templates, Qt::LeftButton);
    QTRY_VERIFY(seen);
}

void trigger(QMenu* menu, const char* name)
{
    QAction* action = menu->findChild<QAction*>(QLatin1String(name));
    QVERIFY2(action, name);
    action->trigger();
}

void writeFile(const QString& path, const QByteArray& bytes)
{
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write(bytes);
}

QJsonArray& templates(PageFixture& fixture)
{
    return fixture.window->rootWindow()->templates;
}

} // namespace

class PacketTemplatesTest : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void initTestCase()
    {
        // The file dialog remembers its folders in the Qt settings; under a
        // file size limit those are written to the test's own location.
        QStandardPaths::setTestModeEnabled(true);
    }

    void saveApplyExportImport()
    {
        PageFixture fixture;
        Pane* page = fixture.open(loopback());
        SendBar* bar = page->sendBar();
        bar->textBox->setPlainText(QStringLiteral("AA 55\n01"));
        bar->sendHex->setChecked(true);
        bar->encoding->setCurrentText(QStringLiteral("gbk"));
        bar->newline->setCurrentIndex(2);

        // Save the current packet under a name typed with blanks around it.
        whenShown<QInputDialog>(QStringLiteral("templateNameDialog"), [](QInputDialog* dialog) {
            QCOMPARE(dialog->windowTitle(), QStringLiteral("保存报文模板"));
            QCOMPARE(dialog->labelText(), QStringLiteral("模板名称"));
            dialog->setTextValue(QStringLiteral("  Frame  "));
            dialog->accept();
        });
        withMenu(page, [](QMenu* menu) {
            QCOMPARE(menu->actions().size(), 3); // no templates yet: no separator
            trigger(menu, "saveTemplate");
        });
        QTRY_COMPARE(templates(fixture).size(), 1);
        const QJsonObject expected{{"name", "Frame"}, {"payload", "AA 55\n01"}, {"hex_mode", true},
                                   {"encoding", "gbk"}, {"newline", 2}};
        QCOMPARE(templates(fixture).at(0).toObject(), expected);

        // A name of blanks stores nothing.
        bool asked = false;
        whenShown<QInputDialog>(QStringLiteral("templateNameDialog"), [&asked](QInputDialog* dialog) {
            dialog->setTextValue(QStringLiteral("   "));
            dialog->accept();
            asked = true;
        });
        withMenu(page, [](QMenu* menu) { trigger(menu, "saveTemplate"); });
        QTRY_VERIFY(asked);
        QTRY_VERIFY(!QApplication::activeModalWidget());
        QCOMPARE(templates(fixture).size(), 1);

        // Applying restores the four fields and sends nothing.
        bar->textBox->clear();
        bar->sendHex->setChecked(false);
        bar->encoding->setCurrentText(QStringLiteral("utf-8"));
        bar->newline->setCurrentIndex(3);
        withMenu(page, [](QMenu* menu) {
            QCOMPARE(menu->actions().size(), 5);
            QCOMPARE(menu->actions().at(0)->text(), QStringLiteral("Frame"));
            QVERIFY(menu->actions().at(1)->isSeparator());
            menu->actions().at(0)->trigger();
        });
        QCOMPARE(bar->textBox->toPlainText(), QStringLiteral("AA 55\n01"));
        QVERIFY(bar->sendHex->isChecked());
        QCOMPARE(bar->encoding->currentText(), QStringLiteral("gbk"));
        QCOMPARE(bar->newline->currentIndex(), 2);

        // Export through the dialog, clear the list, import the file back.
        const QString path = fixture.folder.filePath(QStringLiteral("mine.json"));
        whenShown<QFileDialog>(QStringLiteral("templateExportDialog"), [path](QFileDialog* dialog) {
            QCOMPARE(dialog->windowTitle(), QStringLiteral("导出模板"));
            dialog->selectFile(path);
            static_cast<QDialog*>(dialog)->accept();
        });
        withMenu(page, [](QMenu* menu) { trigger(menu, "exportTemplates"); });
        QTRY_VERIFY(QFile::exists(path));
        QFile exported(path);
        QVERIFY(exported.open(QIODevice::ReadOnly));
        QCOMPARE(exported.readAll(), QJsonDocument(templates(fixture)).toJson(QJsonDocument::Indented));
        const QJsonArray before = templates(fixture);
        templates(fixture) = QJsonArray();
        whenShown<QFileDialog>(QStringLiteral("templateImportDialog"), [path](QFileDialog* dialog) {
            QCOMPARE(dialog->windowTitle(), QStringLiteral("导入模板"));
            dialog->selectFile(path);
            static_cast<QDialog*>(dialog)->accept();
        });
        withMenu(page, [](QMenu* menu) { trigger(menu, "importTemplates"); });
        QTRY_COMPARE(templates(fixture), before);
        // The workspace file was written with the list.
        QFile workspace(fixture.window->settingsPath);
        QVERIFY(workspace.open(QIODevice::ReadOnly));
        QCOMPARE(QJsonDocument::fromJson(workspace.readAll()).object().value("templates").toArray(), before);
    }

    void importRefusals_data()
    {
        QTest::addColumn<QByteArray>("content");
        QTest::addColumn<QString>("message");
        QTest::newRow("an object") << QByteArray(R"({"name":"a","payload":"b"})") << "模板文件需要 JSON 数组";
        QTest::newRow("not JSON") << QByteArray("[{") << "模板文件需要 JSON 数组";
        QTest::newRow("newline 5") << QByteArray(R"([{"name":"a","payload":"b","newline":5}])")
                                   << "模板字段无效，未导入";
        QTest::newRow("newline -1") << QByteArray(R"([{"name":"a","payload":"b"},{"name":"c","payload":"d","newline":-1}])")
                                    << "模板字段无效，未导入";
        QTest::newRow("name not text") << QByteArray(R"([{"name":1,"payload":"b"}])") << "模板字段无效，未导入";
        QTest::newRow("no payload") << QByteArray(R"([{"name":"a"}])") << "模板字段无效，未导入";
        QTest::newRow("not an object") << QByteArray(R"([3])") << "模板字段无效，未导入";
    }

    void importRefusals()
    {
        QFETCH(QByteArray, content);
        QFETCH(QString, message);
        PageFixture fixture;
        Pane* page = fixture.window->newConnection();
        templates(fixture) = QJsonArray{QJsonObject{{"name", "kept"}, {"payload", ""}}};
        const QJsonArray before = templates(fixture);
        const QString path = fixture.folder.filePath(QStringLiteral("bad.json"));
        writeFile(path, content);
        QVERIFY(!PacketTemplates::importFrom(*page, path));
        QCOMPARE(fixture.statusMessage(), QStringLiteral("操作失败：") + message);
        QCOMPARE(templates(fixture), before);
    }

    void importUnreadableAndEmpty()
    {
        PageFixture fixture;
        Pane* page = fixture.window->newConnection();
        templates(fixture) = QJsonArray{QJsonObject{{"name", "kept"}, {"payload", ""}}};
        QVERIFY(!PacketTemplates::importFrom(*page, fixture.folder.filePath(QStringLiteral("missing.json"))));
        QVERIFY(fixture.statusMessage().startsWith(QStringLiteral("操作失败：无法读取模板文件：")));
        QCOMPARE(templates(fixture).size(), 1);

        // Fields that are not checked take their defaults when applied.
        const QString path = fixture.folder.filePath(QStringLiteral("plain.json"));
        writeFile(path, R"([{"name":"plain","payload":"hi"}])");
        QVERIFY(PacketTemplates::importFrom(*page, path));
        page->sendBar()->sendHex->setChecked(true);
        page->sendBar()->encoding->setCurrentText(QStringLiteral("gbk"));
        PacketTemplates::apply(*page->sendBar(), templates(fixture).at(0).toObject());
        QVERIFY(!page->sendBar()->sendHex->isChecked());
        QCOMPARE(page->sendBar()->encoding->currentText(), QStringLiteral("utf-8"));
        QCOMPARE(page->sendBar()->newline->currentIndex(), 0);

        // An empty array removes every template.
        writeFile(path, "[]");
        QVERIFY(PacketTemplates::importFrom(*page, path));
        QVERIFY(templates(fixture).isEmpty());
    }

    void workspaceTemplatesShowAsWritten_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<int>("newline");
        QTest::addColumn<int>("shown");
        QTest::newRow("ampersand, line ending past the list") << "CR&LF" << 9 << 3;
        QTest::newRow("two ampersands, line ending below it") << "A&&B" << -2 << 0;
        QTest::newRow("plain, in range") << "Frame" << 2 << 2;
    }

    void workspaceTemplatesShowAsWritten()
    {
        QFETCH(QString, name);
        QFETCH(int, newline);
        QFETCH(int, shown);
        PageFixture fixture;
        Pane* page = fixture.open(loopback());
        // As the workspace file hands them over: read, not checked as an import is.
        templates(fixture) = QJsonArray{QJsonObject{{"name", name}, {"payload", "hi"}, {"newline", newline}}};
        withMenu(page, [name](QMenu* menu) {
            QAction* entry = menu->actions().at(0);
            QCOMPARE(QString(entry->text()).replace(QStringLiteral("&&"), QStringLiteral("&")), name);
            QVERIFY(QKeySequence::mnemonic(entry->text()).isEmpty());
            entry->trigger();
        });
        QCOMPARE(page->sendBar()->textBox->toPlainText(), QStringLiteral("hi"));
        QCOMPARE(page->sendBar()->newline->currentIndex(), shown);
        QVERIFY(!page->sendBar()->newline->currentText().isEmpty());
    }

    void exportOntoAFullDiskKeepsTheEarlierFile()
    {
        PageFixture fixture;
        Pane* page = fixture.open(loopback());
        templates(fixture) = QJsonArray{QJsonObject{{"name", "ping"}, {"payload", "AT\r"}},
                                        QJsonObject{{"name", "reset"}, {"payload", "AA 55 01"}, {"hex_mode", true}},
                                        QJsonObject{{"name", "status"}, {"payload", "?"}, {"newline", 3}}};
        const QString path = fixture.folder.filePath(QStringLiteral("templates.json"));
        const QByteArray earlier = QJsonDocument(QJsonArray{QJsonObject{{"name", "kept"}, {"payload", "x"}}})
                                       .toJson(QJsonDocument::Indented);
        writeFile(path, earlier);

        bool asked = false;
        whenShown<QFileDialog>(QStringLiteral("templateExportDialog"), [&asked, path](QFileDialog* dialog) {
            asked = true;
            // The user already agreed to replace the earlier file.
            dialog->setOption(QFileDialog::DontConfirmOverwrite);
            dialog->selectFile(path);
            static_cast<QDialog*>(dialog)->accept();
        });
        {
            // What a full disk does, without root; the file is far below the
            // save file's own buffer, so only its flush sees the failure.
            const FileSizeLimit limit(64);
            withMenu(page, [](QMenu* menu) { trigger(menu, "exportTemplates"); });
            QTRY_VERIFY(asked);
            QTRY_COMPARE(fixture.statusMessage(), QStringLiteral("操作失败：") + qt_error_string(EFBIG));
        }
        QFile kept(path);
        QVERIFY(kept.open(QIODevice::ReadOnly));
        QCOMPARE(kept.readAll(), earlier);
        QCOMPARE(QDir(fixture.folder.path()).entryList({QStringLiteral("templates.json*")}, QDir::Files | QDir::Hidden),
                 QStringList{QStringLiteral("templates.json")});
    }

    void exportFailureIsShown()
    {
        PageFixture fixture;
        Pane* page = fixture.window->newConnection();
        templates(fixture) = QJsonArray{QJsonObject{{"name", "a"}, {"payload", "b"}}};
        const QString path = fixture.folder.filePath(QStringLiteral("no/such/folder/t.json"));
        QVERIFY(!PacketTemplates::exportTo(*page, path));
        QVERIFY(fixture.statusMessage().startsWith(QStringLiteral("操作失败：")));
        QVERIFY(fixture.statusMessage().size() > QStringLiteral("操作失败：").size());
        QVERIFY(!QFile::exists(path));
    }
};

QTEST_MAIN(PacketTemplatesTest)
#include "PacketTemplatesTest.moc"
