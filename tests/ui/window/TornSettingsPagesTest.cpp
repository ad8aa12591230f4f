// Settings pages torn off into windows of their own: they carry the whole
// theme of the root window from the moment they appear and through every
// theme change, and every control and label on them keeps showing its value
// torn off, and docked back.

#include "core/Channel.h"
#include "core/Engine.h"
#include "ui/kit/DetachableTabs.h"
#include "ui/kit/Theme.h"
#include "ui/window/AppearancePage.h"
#include "ui/window/SettingsDialog.h"

#include "WorkspaceFixture.h"

#include <QApplication>
#include <QComboBox>
#include <QJsonArray>
#include <QLabel>
#include <QMenu>
#include <QPointer>
#include <QSlider>
#include <QSpinBox>
#include <QTabBar>
#include <QTemporaryDir>
#include <QTest>
#include <QTreeWidget>

#include <memory>

using namespace vn;
using vn::test::WorkspaceFixture;

namespace {

// Tears the tab titled `title` off `tabs` as the user does: its context menu's
// one entry.
FloatingPage* tearOff(DetachableTabs* tabs, const QString& title)
{
    QTabBar* bar = tabs->tabBar();
    int index = -1;
    for (int each = 0; each < bar->count(); ++each) {
        if (bar->tabText(each) == title)
            index = each;
    }
    if (index < 0)
        return nullptr;
    QWidget* page = tabs->widget(index);
    Q_EMIT bar->customContextMenuRequested(bar->tabRect(index).center());
    auto* menu = qobject_cast<QMenu*>(QApplication::activePopupWidget());
    if (!menu || menu->actions().isEmpty())
        return nullptr;
    menu->actions().constFirst()->trigger();
    menu->close();
    return tabs->floatingWindow(page);
}

// The root window's colours where a page reads them.
void compareColours(const QPalette& palette, const QPalette& root)
{
    for (const QPalette::ColorRole role : {QPalette::Window, QPalette::Base, QPalette::Button, QPalette::Text,
                                           QPalette::WindowText, QPalette::Highlight, QPalette::Mid})
        QCOMPARE(palette.color(role), root.color(role));
}

} // namespace

class TornSettingsPagesTest : public QObject {
    Q_OBJECT

    QTemporaryDir home; // agent discovery looks at an empty home, never the user's
    std::unique_ptr<WorkspaceFixture> fixture;
    Window* window = nullptr;
    SettingsDialog* dialog = nullptr;

    template <typename T>
    T* control(const QString& name) const
    {
        // Searched from the page, which holds its controls wherever it is shown.
        return dialog->appearancePage()->findChild<T*>(name);
    }
    DetachableTabs* pages() const { return dialog->findChild<DetachableTabs*>(QStringLiteral("settingsPages")); }

    // What reached the page while it sat in the dialog: the root window's
    // whole sheet, then the dialog's own rule.
    QString expectedSheet() const { return window->styleSheet() + QLatin1Char('\n') + dialog->styleSheet(); }

private Q_SLOTS:
    void init()
    {
        fixture = std::make_unique<WorkspaceFixture>();
        window = fixture->open();
        window->agentEnvironment = [path = home.path()]() { return vn::test::agentsAt(path); };
        window->show();
        QVERIFY(QTest::qWaitForWindowExposed(window));
        window->openSettings();
        dialog = qobject_cast<SettingsDialog*>(window->settingsDialog());
        QVERIFY(dialog);
        QVERIFY(QTest::qWaitForWindowExposed(dialog));
    }

    void cleanup()
    {
        fixture.reset();
        window = nullptr;
        dialog = nullptr;
    }

    void tornPagesCarryTheTheme()
    {
        QPointer<FloatingPage> appearance = tearOff(pages(), QStringLiteral("外观"));
        QVERIFY(appearance);
        QVERIFY(window->styleSheet().contains(QStringLiteral("QPushButton")));
        QCOMPARE(appearance->styleSheet(), expectedSheet());
        compareColours(appearance->palette(), window->palette());
        QCOMPARE(appearance->font().family(), window->font().family());

        // The MCP page's own tabs, torn off from the torn-off MCP page.
        QPointer<FloatingPage> mcp = tearOff(pages(), QStringLiteral("AI / MCP"));
        QVERIFY(mcp);
        auto* nestedTabs = mcp->findChild<DetachableTabs*>(QStringLiteral("mcpPages"));
        QVERIFY(nestedTabs);
        QPointer<FloatingPage> log = tearOff(nestedTabs, QStringLiteral("调用日志"));
        QVERIFY(log);
        for (FloatingPage* torn : {mcp.data(), log.data()}) {
            QCOMPARE(torn->styleSheet(), expectedSheet());
            compareColours(torn->palette(), window->palette());
        }

        // The theme chosen on the torn-off page reaches every torn-off page.
        auto* theme = control<QComboBox>(QStringLiteral("themeChoice"));
        QVERIFY(theme);
        QCOMPARE(theme->window(), appearance.data());
        const QPalette light = window->palette();
        theme->setCurrentIndex(1);
        QVERIFY(window->theme.dark);
        QCOMPARE(window->styleSheet(), window->workspaceStyle());
        for (FloatingPage* torn : {appearance.data(), mcp.data(), log.data()}) {
            QCOMPARE(torn->styleSheet(), expectedSheet());
            compareColours(torn->palette(), window->palette());
            QVERIFY(torn->palette().color(QPalette::Text) != light.color(QPalette::Text));
        }
        QVERIFY(expectedSheet().contains(Theme::make(true).muted.name()));

        // Docked back, the pages sit in the dialog again and take its look.
        for (QPointer<FloatingPage> torn : {log, mcp, appearance}) {
            torn->close();
            QTRY_VERIFY(!torn);
        }
        QCOMPARE(pages()->count(), 4);
        QCOMPARE(theme->window(), dialog);
        QCOMPARE(theme->currentIndex(), 1);
    }

    void controlsFollowTheirValues_data()
    {
        QTest::addColumn<QString>("slider");
        QTest::addColumn<QString>("shown");
        QTest::addColumn<QString>("group");
        QTest::addColumn<QString>("key");
        QTest::newRow("window opacity") << "windowBackgroundOpacity" << "windowBackgroundPercent"
                                        << "window_background" << "opacity";
        QTest::newRow("window position") << "windowBackgroundPositionX" << "windowBackgroundPositionXValue"
                                         << "window_background" << "position_x";
        QTest::newRow("receive position") << "receiveBackgroundPositionY" << "receiveBackgroundPositionYValue"
                                          << "receive_background" << "position_y";
    }

    void controlsFollowTheirValues()
    {
        QFETCH(QString, slider);
        QFETCH(QString, shown);
        QFETCH(QString, group);
        QFETCH(QString, key);
        auto* tuner = control<QSlider>(slider);
        auto* label = control<QLabel>(shown);
        QVERIFY(tuner && label);
        const auto saved = [this, group, key]() {
            return fixture->fileAppearance().value(group).toObject().value(key).toInt(-1);
        };

        // Docked, torn off, docked back: the label shows what the file holds.
        QPointer<FloatingPage> torn;
        for (const int value : {30, 40, 75}) {
            if (value == 40) {
                torn = tearOff(pages(), QStringLiteral("外观"));
                QVERIFY(torn);
                QCOMPARE(label->window(), torn.data());
            } else if (value == 75) {
                torn->close();
                QTRY_VERIFY(!torn);
                QCOMPARE(label->window(), dialog);
            }
            tuner->setFocus();
            tuner->setValue(value);
            QCOMPARE(saved(), value);
            QCOMPARE(label->text(), QStringLiteral("%1%").arg(value));
        }

        // A change made in another window's settings reaches the torn-off page too.
        torn = tearOff(pages(), QStringLiteral("外观"));
        QVERIFY(torn);
        auto* other = new Window(&fixture->engine, &fixture->server, fixture->path, window);
        other->show();
        other->openSettings();
        auto* elsewhere = other->settingsDialog()->findChild<QSlider*>(slider);
        QVERIFY(elsewhere && elsewhere != tuner);
        elsewhere->setValue(55);
        QCOMPARE(saved(), 55);
        QCOMPARE(label->text(), QStringLiteral("55%"));
        QCOMPARE(tuner->value(), 55);
        torn->close();
        other->close();
    }

    void dataFontSizeFollowsThePages()
    {
        QPointer<FloatingPage> torn = tearOff(pages(), QStringLiteral("外观"));
        QVERIFY(torn);
        // As a page's Ctrl + wheel sets it.
        QFont font = window->dataFont;
        font.setPointSize(17);
        window->setDataFont(font);
        QCOMPARE(control<QSpinBox>(QStringLiteral("dataFontSize"))->value(), 17);
        torn->close();
    }

    void tornTablesAreStillFilled()
    {
        QPointer<FloatingPage> mcp = tearOff(pages(), QStringLiteral("AI / MCP"));
        QVERIFY(mcp);
        auto* nestedTabs = mcp->findChild<DetachableTabs*>(QStringLiteral("mcpPages"));
        QVERIFY(nestedTabs);
        nestedTabs->setCurrentIndex(0);
        dialog->hide();

        Config loop;
        loop.port = QStringLiteral("loop://");
        Channel* channel = fixture->engine.open(loop);
        QTRY_COMPARE(channel->state, QStringLiteral("connected"));
        QTreeWidget* overview = dialog->connectionsOverview();
        QVERIFY(overview);
        QCOMPARE(overview->window(), mcp.data());
        QTRY_COMPARE_WITH_TIMEOUT(overview->topLevelItemCount(), 1, 20000);

        // The call log is brought up where it is, in its own torn-off window.
        QPointer<FloatingPage> log = tearOff(nestedTabs, QStringLiteral("调用日志"));
        QVERIFY(log);
        window->openAiAudit();
        QCOMPARE(dialog->callLog()->window(), log.data());
        QVERIFY(log->isVisible());
        log->close();
        QTRY_VERIFY(!log);
        window->openAiAudit();
        QCOMPARE(nestedTabs->currentWidget(), dialog->callLog());
        mcp->close();
    }
};

QTEST_MAIN(TornSettingsPagesTest)
#include "TornSettingsPagesTest.moc"
