// What the window tells the user about other local accounts, which the MCP
// server refuses: a note on the settings page, and how many were refused in
// the status line's MCP tool tip. The refused client runs under another uid
// (see ForeignClient); without root that part is skipped.

#include "mcp/McpServer.h"
#include "tests/support/ForeignClient.h"
#include "tests/ui/window/WorkspaceFixture.h"
#include "ui/window/Window.h"

#include <QDialog>
#include <QLabel>
#include <QTest>

using namespace vn;
using namespace vn::test;

class McpAccessNoticeTest : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void settingsPageSaysOtherAccountsAreRefused()
    {
        WorkspaceFixture workspace;
        QVERIFY(workspace.server.start(0));
        Window* window = workspace.open();
        window->openSettings();
        QDialog* dialog = window->settingsDialog();
        QVERIFY(dialog);
        QWidget* page = dialog->findChild<QWidget*>(QStringLiteral("mcpScroll"));
        QVERIFY(page);
        bool found = false;
        for (const QLabel* label : page->findChildren<QLabel*>())
            found = found || label->text() == QStringLiteral("只为本账户的程序服务，其他本地账户的连接一律拒绝。");
        QVERIFY(found);
    }

    void refusalsAreCountedInTheMcpTip()
    {
        const QString why = ForeignClient::unavailable();
        if (!why.isEmpty())
            QSKIP(qPrintable(QStringLiteral("no client under another uid: ") + why));
        WorkspaceFixture workspace;
        QVERIFY(workspace.server.start(0));
        Window* window = workspace.open();
        ForeignClient intruder;
        QVERIFY(intruder.start(QStringLiteral("127.0.0.1"), workspace.server.serverPort(), 2));
        QTRY_COMPARE_WITH_TIMEOUT(workspace.server.refusedPeers, 2, 15000);
        QVERIFY(workspace.server.refusalNote.startsWith(QStringLiteral("已拒绝其他本地账户的 ")));
        auto* status = window->findChild<QLabel*>(QStringLiteral("mcpStatus"));
        QVERIFY(status);
        QTRY_COMPARE(status->toolTip(), workspace.server.url() + QLatin1Char('\n') + workspace.server.refusalNote);
        QCOMPARE(status->text(), QStringLiteral("MCP 就绪  ·  %1").arg(workspace.server.serverPort()));
    }
};

QTEST_MAIN(McpAccessNoticeTest)
#include "McpAccessNoticeTest.moc"
