#include "ui/kit/BackgroundSurface.h"
#include "ui/kit/WindowChrome.h"

#include <QApplication>
#include <QDialog>
#include <QFileDialog>
#include <QMainWindow>
#include <QMenu>
#include <QStyle>
#include <QStyleHints>
#include <QTest>

using namespace vn;

namespace {

BackgroundSurface* captionOf(QWidget* window)
{
    return window->findChild<BackgroundSurface*>(QStringLiteral("windowCaptionBackground"),
                                                 Qt::FindDirectChildrenOnly);
}

} // namespace

class TestWindowChrome : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void initTestCase();
    void oneControllerPerProcess();
    void programIconHasEverySize();
    void windowsAreFittedOnce();
    void popupsAndFileDialogsKeepTheirFrame();
    void updateReachesEveryCaption();
    void colourSchemeFollowsTheTheme();
};

void TestWindowChrome::initTestCase()
{
    QVERIFY(installWindowChrome());
}

void TestWindowChrome::oneControllerPerProcess()
{
    QObject* first = installWindowChrome();
    QCOMPARE(installWindowChrome(), first);
    QCOMPARE(first->objectName(), QStringLiteral("varnelleWindowChrome"));
    QCOMPARE(first->parent(), qApp);
}

void TestWindowChrome::programIconHasEverySize()
{
    const QIcon icon = programIcon();
    QCOMPARE(icon.availableSizes(),
             QList<QSize>({{16, 16}, {20, 20}, {24, 24}, {32, 32}, {48, 48}, {64, 64}}));
    const QImage image = icon.pixmap(64, 64).toImage();
    QCOMPARE(image.pixelColor(32, 2), QColor(0x29, 0x3e, 0x35)); // the rail-coloured tile
    QCOMPARE(image.pixelColor(0, 0).alpha(), 0);                   // with rounded corners
}

void TestWindowChrome::windowsAreFittedOnce()
{
    QMainWindow window;
    window.setContentsMargins(3, 4, 5, 6);
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    QVERIFY(window.property("varnelleChrome").toBool());
    QCOMPARE(window.property("varnelleFrameMargins").value<QMargins>(), QMargins(3, 4, 5, 6));
    QVERIFY(window.testAttribute(Qt::WA_ContentsMarginsRespectsSafeArea));
    QCOMPARE(window.windowIcon().availableSizes().size(), 6);
    BackgroundSurface* caption = captionOf(&window);
    QVERIFY(caption);
    QVERIFY(caption->caption);
    QVERIFY(caption->testAttribute(Qt::WA_TransparentForMouseEvents));
    QCOMPARE(caption->focusPolicy(), Qt::NoFocus);
    // The system frame keeps its own title bar here: no strip, margins as they were.
    QVERIFY(!caption->isVisible());
    QCOMPARE(window.contentsMargins(), QMargins(3, 4, 5, 6));

    window.style()->unpolish(&window);
    window.style()->polish(&window);
    window.ensurePolished();
    QCOMPARE(window.findChildren<BackgroundSurface*>(QStringLiteral("windowCaptionBackground")).size(), 1);

    window.showFullScreen();
    QTRY_VERIFY(window.isFullScreen());
    QCOMPARE(caption->height(), 0);
    QVERIFY(!caption->isVisible());
}

void TestWindowChrome::popupsAndFileDialogsKeepTheirFrame()
{
    QMenu menu;
    menu.addAction(QStringLiteral("复制"));
    menu.popup(QPoint(10, 10));
    QTRY_VERIFY(menu.isVisible());
    QVERIFY(!menu.property("varnelleChrome").toBool());
    menu.hide();

    QFileDialog files;
    files.setOption(QFileDialog::DontUseNativeDialog);
    files.ensurePolished();
    QVERIFY(!files.property("varnelleChrome").toBool());

    QDialog dialog;
    dialog.ensurePolished();
    QVERIFY(dialog.property("varnelleChrome").toBool());
    QWidget child(&dialog);
    child.ensurePolished();
    QVERIFY(!child.property("varnelleChrome").toBool());
}

void TestWindowChrome::updateReachesEveryCaption()
{
    auto first = std::make_unique<QDialog>();
    QDialog second;
    first->ensurePolished();
    second.ensurePolished();
    first.reset(); // a dead caption is dropped, not refreshed
    const Theme dark = Theme::make(true);
    BackgroundSpec look;
    look.opacity = 80;
    QImage picture(8, 8, QImage::Format_RGBA8888);
    picture.fill(Qt::red);
    updateWindowChrome(dark, look, picture);
    BackgroundSurface* caption = captionOf(&second);
    QCOMPARE(caption->baseColor, dark.bg);
    QVERIFY(caption->background.current == look);
    QCOMPARE(caption->background.image, picture);

    // Windows made later start with the latest theme.
    QDialog third;
    third.ensurePolished();
    QCOMPARE(captionOf(&third)->baseColor, dark.bg);
}

void TestWindowChrome::colourSchemeFollowsTheTheme()
{
    QObject* chrome = installWindowChrome();
    updateWindowChrome(Theme::make(true), BackgroundSpec(), QImage());
    QCOMPARE(chrome->property("colorScheme").toString(), QStringLiteral("dark"));
#if QT_VERSION >= QT_VERSION_CHECK(6, 8, 0)
    QCOMPARE(QGuiApplication::styleHints()->colorScheme(), Qt::ColorScheme::Dark);
#endif
    updateWindowChrome(Theme::make(false), BackgroundSpec(), QImage());
    QCOMPARE(chrome->property("colorScheme").toString(), QStringLiteral("light"));

    // Whatever the theme, the window manager keeps its own frame: no flag that
    // hides or replaces the title bar is ever set.
    QMainWindow window;
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    QVERIFY(!(window.windowFlags() & (Qt::FramelessWindowHint | Qt::CustomizeWindowHint)));
    QVERIFY(!captionOf(&window)->isVisible());
}

QTEST_MAIN(TestWindowChrome)
#include "tst_WindowChrome.moc"
