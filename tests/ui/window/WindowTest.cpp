#include "core/Engine.h"
#include "core/Version.h"
#include "mcp/McpServer.h"
#include "ui/kit/ConnectionBar.h"
#include "ui/pages/Pane.h"
#include "ui/window/Window.h"

#include <QJsonDocument>
#include <QScrollArea>
#include <QTemporaryDir>
#include <QTest>

using namespace vn;

class WindowTest : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void rootWindowDefaults();
};

void WindowTest::rootWindowDefaults()
{
    QTemporaryDir folder;
    Engine engine;
    McpServer server(&engine);
    Window window(&engine, &server, folder.filePath(QStringLiteral("settings.json")), nullptr);
    QCOMPARE(window.width(), 1400);
    QCOMPARE(window.windowTitle(), QStringLiteral("Varnelle · Native ") + QString::fromLatin1(Version));
    QCOMPARE(window.pages.size(), 1);
}

QTEST_MAIN(WindowTest)
#include "WindowTest.moc"
