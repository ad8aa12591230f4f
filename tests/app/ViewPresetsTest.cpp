#include "app/PreviewOptions.h"
#include "app/ViewPresets.h"
#include "core/Channel.h"
#include "core/Engine.h"
#include "mcp/McpServer.h"
#include "ui/kit/ConnectionBar.h"
#include "ui/kit/IconButton.h"
#include "ui/pages/Pane.h"
#include "ui/pages/SessionToolbar.h"
#include "ui/views/FilterBox.h"
#include "ui/views/TerminalView.h"
#include "ui/window/Window.h"

#include <QComboBox>
#include <QDialog>
#include <QTemporaryDir>
#include <QTest>

#include <memory>

using namespace vn;

namespace {

// A root window over a real engine, with or without the demo pages.
struct Preview {
    explicit Preview(bool demo)
    {
        root = std::make_unique<Window>(&engine, &server, folder.filePath(QStringLiteral("settings.json")), nullptr);
        root->resize(1400, 800);
        root->show();
        if (demo)
            openDemo(*root);
        target = root.get();
    }
    ~Preview()
    {
        // Torn-off windows are the root's children and go with it.
        root.reset();
    }

    Pane* shown() const { return target ? target->current : nullptr; }

    QTemporaryDir folder;
    Engine engine;
    McpServer server{&engine};
    std::unique_ptr<Window> root;
    QPointer<Window> target;
};

} // namespace

class ViewPresetsTest : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void demoOpensItsPages();
    void instrumentPresets_data();
    void instrumentPresets();
    void windowPresets_data();
    void windowPresets();
    void previewSizes_data();
    void previewSizes();
};

void ViewPresetsTest::demoOpensItsPages()
{
    Preview preview(true);
    Window& root = *preview.root;
    QStringList kinds;
    for (Pane* page : std::as_const(root.pages))
        kinds.append(page->kind);
    QCOMPARE(kinds, QStringList({"", "", "waveform", "json", "xml"}));
    // The demo's own session page stays selected; the instrument pages follow its data.
    Pane* demo = root.current;
    QVERIFY(demo && demo->channel);
    QCOMPARE(demo->channel->config.name, QStringLiteral("示例数据"));
    QCOMPARE(root.pages.at(2)->sourceKey, demo->channel->config.key());
    QCOMPARE(root.pages.at(3)->sourceKey, root.engine->structuredDemo()->config.key());
    QCOMPARE(root.pages.at(4)->sourceKey, root.engine->structuredDemo()->config.key());
}

void ViewPresetsTest::instrumentPresets_data()
{
    QTest::addColumn<QString>("view");
    QTest::addColumn<bool>("demo");
    QTest::addColumn<QString>("kind");  // of the page shown; "-": the demo's session page stays
    QTest::addColumn<bool>("torn");     // shown in a torn-off window
    QTest::newRow("waveform") << "waveform" << true << "waveform" << false;
    QTest::newRow("values") << "values" << true << "waveform" << false;
    QTest::newRow("json") << "json" << true << "json" << false;
    QTest::newRow("structured") << "structured" << true << "json" << false;
    QTest::newRow("xml") << "xml" << true << "xml" << false;
    QTest::newRow("floating wave") << "floating-wave" << true << "waveform" << true;
    QTest::newRow("no control page of that kind") << "control" << true << "-" << false;
    QTest::newRow("unknown name") << "nothing-like-this" << true << "-" << false;
    QTest::newRow("detached") << "detached" << true << "" << true;
}

void ViewPresetsTest::instrumentPresets()
{
    QFETCH(QString, view);
    QFETCH(bool, demo);
    QFETCH(QString, kind);
    QFETCH(bool, torn);
    Preview preview(demo);
    Pane* before = preview.root->current;
    applyViewPreset(*preview.root, view, preview.target);
    QVERIFY(preview.target);
    QCOMPARE(preview.target.data() != preview.root.get(), torn);
    if (kind == QLatin1String("-")) {
        QCOMPARE(preview.shown(), before);
        return;
    }
    QCOMPARE(preview.shown()->kind, kind);
    if (torn) {
        QCOMPARE(preview.target->pages.size(), 1);
        QCOMPARE(preview.target->size(), QSize(1100, 760));
        const QPoint at = view == QLatin1String("detached") ? QPoint(160, 120) : QPoint(250, 180);
        QCOMPARE(preview.target->pos(), at - QPoint(100, 14));
    }
}

void ViewPresetsTest::windowPresets_data()
{
    QTest::addColumn<QString>("view");
    QTest::newRow("dark") << "dark";
    QTest::newRow("narrow") << "narrow";
    QTest::newRow("ssh") << "ssh";
    QTest::newRow("search") << "search";
    QTest::newRow("terminal") << "terminal";
    QTest::newRow("settings") << "settings";
    QTest::newRow("floating wave without pages") << "floating-wave";
}

void ViewPresetsTest::windowPresets()
{
    QFETCH(QString, view);
    Preview preview(false);
    Window& root = *preview.root;
    applyViewPreset(root, view, preview.target);
    QCOMPARE(preview.target.data(), &root);
    if (view == QLatin1String("dark")) {
        QVERIFY(root.theme.dark);
    } else if (view == QLatin1String("narrow")) {
        QCOMPARE(root.size(), QSize(480, 640));
    } else if (view == QLatin1String("ssh")) {
        QCOMPARE(root.findChild<QComboBox*>(QStringLiteral("protocolSelector"))->currentIndex(), 4);
    } else if (view == QLatin1String("search")) {
        QCOMPARE(root.sessionPane->filterBox()->text(), QStringLiteral("temperature"));
    } else if (view == QLatin1String("terminal")) {
        Pane* page = root.sessionPane;
        QVERIFY(page->terminal);
        QVERIFY(page->terminalView()->blockCursor);
        QVERIFY(!page->toolbar()->cursorShape->isChecked());
    } else if (view == QLatin1String("settings")) {
        QVERIFY(root.settingsDialog() && root.settingsDialog()->isVisible());
    } else {
        QCOMPARE(root.windows.size(), 1);
    }
}

void ViewPresetsTest::previewSizes_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QSize>("size"); // invalid: none
    QTest::newRow("width by height") << "560x640" << QSize(560, 640);
    QTest::newRow("spaces around") << " 720x480 " << QSize(720, 480);
    QTest::newRow("empty") << "" << QSize();
    QTest::newRow("one side") << "560" << QSize();
    QTest::newRow("upper-case X") << "560X640" << QSize();
    QTest::newRow("zero") << "0x640" << QSize();
    QTest::newRow("negative") << "560x-1" << QSize();
    QTest::newRow("three sides") << "1x2x3" << QSize();
    QTest::newRow("not numbers") << "wide x high" << QSize();
}

void ViewPresetsTest::previewSizes()
{
    QFETCH(QString, text);
    QFETCH(QSize, size);
    QCOMPARE(previewSize(text).value_or(QSize()), size);
}

QTEST_MAIN(ViewPresetsTest)
#include "ViewPresetsTest.moc"
