#include "core/Channel.h"
#include "core/Engine.h"
#include "ui/kit/ConnectionBar.h"
#include "ui/pages/Pane.h"
#include "ui/views/TerminalView.h"
#include "ui/window/MemoryReturn.h"
#include "tests/ui/window/WorkspaceFixture.h"

#include <QAbstractButton>
#include <QPointer>
#include <QSignalSpy>
#include <QTest>

using namespace vn;
using vn::test::WorkspaceFixture;

namespace {

// A session page of its own: channels of one key share a page.
Pane* openPage(WorkspaceFixture& fixture, const QString& name)
{
    Config config;
    config.kind = QStringLiteral("demo");
    config.host = name;
    config.name = name;
    Channel* channel = fixture.engine.open(config);
    return fixture.window->findPane(channel);
}

// The close button on a page's tab, as the user clicks it.
QAbstractButton* closeButton(Window* window, Pane* page)
{
    QWidget* holder = window->tabs()->tabButton(paneIndex(window->tabs(), page), QTabBar::RightSide);
    return holder ? holder->findChild<QAbstractButton*>(QStringLiteral("closeTab")) : nullptr;
}

} // namespace

class MemoryReturnTest : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void closedPagesComeToOneReturn()
    {
        WorkspaceFixture fixture;
        Window* window = fixture.open();
        auto* memory = window->findChild<MemoryReturn*>(QStringLiteral("memoryReturn"));
        QVERIFY(memory);
        QList<QPointer<Pane>> pages;
        for (int i = 0; i < 3; ++i) {
            Pane* page = openPage(fixture, QStringLiteral("demo-%1").arg(i));
            QVERIFY(page);
            pages.append(page);
        }
        QCoreApplication::processEvents();
        QVERIFY(!memory->pending());
        QSignalSpy returned(memory, &MemoryReturn::returned);
        // The pages are gone by the time the memory goes back.
        bool goneFirst = false;
        connect(memory, &MemoryReturn::returned, this, [&] { goneFirst = !pages.at(0) && !pages.at(1); });

        for (int i = 0; i < 2; ++i) {
            QAbstractButton* close = closeButton(window, pages.at(i));
            QVERIFY(close);
            close->click();
        }
        QTRY_COMPARE_WITH_TIMEOUT(returned.count(), 1, 20000);
        QVERIFY(goneFirst);
        QVERIFY(pages.at(2));
        QVERIFY(!memory->pending());   // both closings came to this one return
    }

    void longHistoryDroppedByAClearAsksForAReturn()
    {
        WorkspaceFixture fixture;
        Window* window = fixture.open();
        auto* memory = window->findChild<MemoryReturn*>(QStringLiteral("memoryReturn"));
        QVERIFY(memory);
        Pane* page = openPage(fixture, QStringLiteral("busy"));
        QVERIFY(page);
        QCoreApplication::processEvents();
        QSignalSpy returned(memory, &MemoryReturn::returned);

        TerminalView* terminal = page->terminalView();
        QByteArray line(100, 'x');
        terminal->feed((line + "\r\n").repeated(TerminalScreen::kHistoryLimit));
        QVERIFY(terminal->screen().history().bytes() >= TerminalView::kReleaseNoticeBytes);
        page->clearView();
        QCOMPARE(terminal->screen().historyRows(), 0);
        QVERIFY(memory->pending());
        QTRY_COMPARE_WITH_TIMEOUT(returned.count(), 1, 20000);

        // A clear with little history asks for nothing.
        terminal->feed("a\r\nb\r\n");
        page->clearView();
        QVERIFY(!memory->pending());
    }
};

QTEST_MAIN(MemoryReturnTest)
#include "MemoryReturnTest.moc"
