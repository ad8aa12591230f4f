#include "PageFixture.h"

#include "ui/kit/IconButton.h"
#include "ui/pages/PageAppearance.h"
#include "ui/pages/ReceiveArea.h"
#include "ui/pages/ScriptResultsPanel.h"
#include "ui/pages/SessionToolbar.h"
#include "ui/views/LogView.h"
#include "ui/views/TerminalView.h"

#include <QFile>
#include <QJsonDocument>
#include <QMenu>
#include <QTreeWidget>

using namespace vn;
using namespace vn::test;

class PageAppearanceTest : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void fontRule_data()
    {
        QTest::addColumn<QFont>("font");
        QTest::addColumn<QString>("rule");
        QFont two;
        two.setFamilies({QStringLiteral("Cascadia Mono"), QStringLiteral("Microsoft YaHei UI")});
        two.setPointSize(12);
        QTest::newRow("two families") << two
                                      << "font-family: 'Cascadia Mono', 'Microsoft YaHei UI'; font-size: 12pt; "
                                         "font-weight: 400; font-style: normal;";
        QFont boldItalic(QStringLiteral("DejaVu Sans Mono"));
        boldItalic.setPointSizeF(10.5);
        boldItalic.setBold(true);
        boldItalic.setItalic(true);
        QTest::newRow("bold italic") << boldItalic
                                     << "font-family: 'DejaVu Sans Mono'; font-size: 10.5pt; font-weight: 700; "
                                        "font-style: italic;";
        QFont oblique(QStringLiteral("Mono"));
        oblique.setPointSize(9);
        oblique.setStyle(QFont::StyleOblique);
        QTest::newRow("oblique") << oblique
                                 << "font-family: 'Mono'; font-size: 9pt; font-weight: 400; font-style: italic;";
    }

    void fontRule()
    {
        QFETCH(QFont, font);
        QFETCH(QString, rule);
        QCOMPARE(PageAppearance::fontRule(font), rule);
    }

    void backgrounds_data()
    {
        QTest::addColumn<bool>("windowImage");
        QTest::addColumn<bool>("receiveImage");
        QTest::newRow("none") << false << false;
        QTest::newRow("window only") << true << false;
        QTest::newRow("receive only") << false << true;
        QTest::newRow("both") << true << true;
    }

    void backgrounds()
    {
        QFETCH(bool, windowImage);
        QFETCH(bool, receiveImage);
        PageFixture fixture;
        Window* window = fixture.window.get();
        QImage picture(8, 8, QImage::Format_RGBA8888);
        picture.fill(Qt::red);
        window->windowBackgroundImage = windowImage ? picture : QImage();
        window->receiveBackgroundImage = receiveImage ? picture : QImage();
        Pane page(window, QString());
        page.applyAppearance();

        const bool any = windowImage || receiveImage;
        const QString rule = PageAppearance::fontRule(window->dataFont);
        LogView* log = page.logView();
        QCOMPARE(log->styleSheet(), any ? rule + QStringLiteral("background: transparent;") : rule);
        QCOMPARE(log->viewport()->autoFillBackground(), !any);
        QCOMPARE(log->viewport()->palette().color(QPalette::Inactive, QPalette::Base),
                 any ? QColor(Qt::transparent) : window->theme.panel);
        QCOMPARE(log->transparentBackground, any);
        QCOMPARE(page.terminalView()->transparentBackground, any);
        QCOMPARE(page.receiveArea()->transparent, windowImage && !receiveImage);
        QCOMPARE(page.receiveArea()->baseColor, window->theme.panel);
        QCOMPARE(page.receiveArea()->background.hasImage(), receiveImage);
        QCOMPARE(page.terminalView()->styleSheet(), rule);
        QCOMPARE(page.terminalView()->font().family(), window->dataFont.family());
        QCOMPARE(page.terminalView()->font().pointSizeF(), window->dataFont.pointSizeF());

        // The same look again leaves the log's style sheet alone.
        const QString before = log->styleSheet();
        page.applyAppearance();
        QCOMPARE(log->styleSheet(), before);
    }

    void themeAndResultsColumn()
    {
        PageFixture fixture;
        Window* window = fixture.window.get();
        window->theme = Theme::make(true);
        Pane page(window, QString());
        page.applyAppearance();
        QCOMPARE(page.logView()->theme, window->theme);
        QCOMPARE(page.terminalView()->theme, window->theme);
        for (IconButton* button : page.findChildren<IconButton*>())
            QCOMPARE(button->theme, window->theme);
        const int expected = QFontMetrics(window->dataFont).horizontalAdvance(QStringLiteral("00:00:00.000")) + 22;
        QCOMPARE(page.scriptResults()->tree->columnWidth(0), expected);
    }

    void clipboardMenu()
    {
        PageFixture fixture;
        Channel* channel = nullptr;
        Pane* page = fixture.open(loopback(), &channel);
        page->setTerminal(true);
        channel->close();
        QTRY_VERIFY(!page->terminalView()->interactive);

        bool seen = false;
        whenShown<QMenu>(QStringLiteral("terminalClipboardMenu"), [&seen](QMenu* menu) {
            seen = true;
            QAction* copy = menu->findChild<QAction*>(QStringLiteral("copySelection"));
            QAction* paste = menu->findChild<QAction*>(QStringLiteral("pasteClipboard"));
            QAction* right = menu->findChild<QAction*>(QStringLiteral("rightClickPaste"));
            QVERIFY(copy && paste && right);
            QVERIFY(!copy->isEnabled());
            QVERIFY(!paste->isEnabled());
            QVERIFY(right->isChecked());
            right->trigger();
            menu->close();
        });
        QTest::mouseClick(page->toolbar()->clipboard, Qt::LeftButton);
        QTRY_VERIFY(seen);
        QVERIFY(!page->terminalView()->rightClickPaste);
        QVERIFY(page->terminalView()->copyShortcut);
        QCOMPARE(page->settings().value("right_click_paste"), QJsonValue(false));

        // Saved at once: the page's object in the workspace file has it off.
        QFile file(fixture.window->settingsPath);
        QVERIFY(file.open(QIODevice::ReadOnly));
        const QJsonObject saved = QJsonDocument::fromJson(file.readAll()).object();
        QCOMPARE(saved.value("views").toObject().value(channel->config.key()).toObject().value("right_click_paste"),
                 QJsonValue(false));
    }
};

QTEST_MAIN(PageAppearanceTest)
#include "PageAppearanceTest.moc"
