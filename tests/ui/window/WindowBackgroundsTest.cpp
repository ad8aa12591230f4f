#include "WorkspaceFixture.h"

#include "ui/kit/BackgroundSurface.h"
#include "ui/kit/Combo.h"

#include <QApplication>
#include <QDialog>
#include <QDir>
#include <QFileDialog>
#include <QImage>
#include <QLabel>
#include <QPainter>
#include <QPointer>
#include <QPushButton>
#include <QSignalSpy>
#include <QSlider>
#include <QStatusBar>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

using namespace vn;
using vn::test::WorkspaceFixture;

namespace {

QImage picture(const QColor& colour)
{
    QImage image(48, 32, QImage::Format_RGBA8888);
    image.fill(colour);
    QPainter(&image).fillRect(0, 0, 8, 8, Qt::black);
    return image;
}

// Answers the next file dialog with `path`.
void answerFileDialog(QObject* context, const QString& path)
{
    QTimer::singleShot(0, context, [path] {
        auto* dialog = qobject_cast<QFileDialog*>(QApplication::activeModalWidget());
        QVERIFY(dialog);
        dialog->selectFile(path);
        static_cast<QDialog*>(dialog)->accept();
    });
}

} // namespace

class WindowBackgroundsTest : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void everyWindowFollowsAChange();
    void samePictureTwiceIsOneFile();
    void resetReturnsToThePlainLook();
    void unreadablePictureIsNamedSo();
    void installerStartsAndTheProgramCloses();
    void installerThatCannotStartIsReported();

private:
    // The root window, a torn-off window, and the root's settings dialog open.
    void openTwo(WorkspaceFixture& workspace);
    void choose(QDialog* settings, const QString& prefix, const QString& path);

    QPointer<Window> m_torn;
};

void WindowBackgroundsTest::openTwo(WorkspaceFixture& workspace)
{
    Window* root = workspace.open();
    root->show();
    m_torn = new Window(&workspace.engine, &workspace.server, workspace.path, root);
    m_torn->show();
    root->openSettings();
    m_torn->openSettings();
    QVERIFY(root->settingsDialog());
    QVERIFY(m_torn->settingsDialog());
}

void WindowBackgroundsTest::choose(QDialog* settings, const QString& prefix, const QString& path)
{
    answerFileDialog(this, path);
    auto* button = settings->findChild<QPushButton*>(prefix + QStringLiteral("Choose"));
    QVERIFY(button);
    QTest::mouseClick(button, Qt::LeftButton);
}

void WindowBackgroundsTest::everyWindowFollowsAChange()
{
    WorkspaceFixture workspace;
    openTwo(workspace);
    Window* root = workspace.window.get();
    const QString plainStyle = root->theme.stylesheet();
    QTemporaryDir pictures;
    const QString source = pictures.filePath(QStringLiteral("森林.webp"));
    QVERIFY(picture(Qt::darkGreen).save(source, "WEBP", 100));

    choose(m_torn->settingsDialog(), QStringLiteral("windowBackground"), source);
    for (Window* window : {root, m_torn.data()}) {
        QVERIFY(window->windowBackground.file.startsWith(QStringLiteral("backgrounds/")));
        QCOMPARE(window->windowBackground.name, QStringLiteral("森林.webp"));
        QCOMPARE(window->windowBackgroundImage.size(), QSize(48, 32));
        auto* surface = window->findChild<BackgroundSurface*>(QStringLiteral("root"));
        QVERIFY(surface);
        QVERIFY(surface->background.hasImage());
        QVERIFY(window->styleSheet() != plainStyle);
        QVERIFY(window->styleSheet().contains(QStringLiteral("background: transparent")));
        QCOMPARE(window->settingsDialog()->findChild<QLabel*>("windowBackgroundFile")->text(),
                 QStringLiteral("森林.webp"));
    }
    QCOMPARE(workspace.fileAppearance().value("window_background").toObject().value("file").toString(),
             root->windowBackground.file);

    // Tuning in one window's page shows in every window and in the file.
    auto* opacity = root->settingsDialog()->findChild<QSlider*>("windowBackgroundOpacity");
    opacity->setFocus();
    QTest::keyClick(opacity, Qt::Key_PageUp);
    const int tuned = opacity->value();
    QVERIFY(tuned > 25);
    QCOMPARE(m_torn->windowBackground.opacity, tuned);
    QCOMPARE(m_torn->findChild<BackgroundSurface*>("root")->background.current.opacity, tuned);
    QCOMPARE(m_torn->settingsDialog()->findChild<QSlider*>("windowBackgroundOpacity")->value(), tuned);
    QCOMPARE(m_torn->settingsDialog()->findChild<QLabel*>("windowBackgroundPercent")->text(),
             QString::number(tuned) + u'%');
    QCOMPARE(workspace.fileAppearance().value("window_background").toObject().value("opacity").toInt(), tuned);

    m_torn->settingsDialog()->findChild<Combo*>("windowBackgroundMode")->setCurrentIndex(2);
    QCOMPARE(root->windowBackground.fit, QStringLiteral("tile"));
    QCOMPARE(root->settingsDialog()->findChild<Combo*>("windowBackgroundMode")->currentIndex(), 2);
    QCOMPARE(root->windowBackground.opacity, tuned);
}

void WindowBackgroundsTest::samePictureTwiceIsOneFile()
{
    WorkspaceFixture workspace;
    openTwo(workspace);
    Window* root = workspace.window.get();
    QTemporaryDir pictures;
    const QString first = pictures.filePath(QStringLiteral("a.png"));
    const QString second = pictures.filePath(QStringLiteral("b.bmp"));
    QVERIFY(picture(Qt::blue).save(first, "PNG"));
    QVERIFY(picture(Qt::blue).save(second, "BMP"));

    root->receiveBackground.opacity = 80;
    choose(root->settingsDialog(), QStringLiteral("windowBackground"), first);
    choose(root->settingsDialog(), QStringLiteral("receiveBackground"), second);
    QCOMPARE(root->receiveBackground.file, root->windowBackground.file);
    QCOMPARE(root->receiveBackground.name, QStringLiteral("b.bmp"));
    QCOMPARE(root->receiveBackground.opacity, 80); // importing keeps the tuning
    QCOMPARE(m_torn->receiveBackgroundImage.size(), QSize(48, 32));
    const QDir folder(workspace.folder.filePath(QStringLiteral("backgrounds")));
    QCOMPARE(folder.entryList(QDir::Files).size(), 1);
    const QJsonObject appearance = workspace.fileAppearance();
    QCOMPARE(appearance.value("receive_background").toObject().value("file"),
             appearance.value("window_background").toObject().value("file"));
}

void WindowBackgroundsTest::resetReturnsToThePlainLook()
{
    WorkspaceFixture workspace;
    openTwo(workspace);
    Window* root = workspace.window.get();
    QTemporaryDir pictures;
    const QString source = pictures.filePath(QStringLiteral("x.png"));
    QVERIFY(picture(Qt::red).save(source));
    choose(root->settingsDialog(), QStringLiteral("windowBackground"), source);
    QTest::mouseClick(root->settingsDialog()->findChild<QPushButton*>("windowBackgroundPositionReset"),
                      Qt::LeftButton);
    root->settingsDialog()->findChild<Combo*>("windowBackgroundMode")->setCurrentIndex(1);
    QVERIFY(m_torn->styleSheet() != m_torn->theme.stylesheet());

    QTest::mouseClick(m_torn->settingsDialog()->findChild<QPushButton*>("windowBackgroundReset"), Qt::LeftButton);
    for (Window* window : {root, m_torn.data()}) {
        QVERIFY(window->windowBackground == BackgroundSpec());
        QVERIFY(window->windowBackgroundImage.isNull());
        QCOMPARE(window->styleSheet(), window->theme.stylesheet());
        QVERIFY(!window->findChild<BackgroundSurface*>("root")->background.hasImage());
        QDialog* settings = window->settingsDialog();
        QCOMPARE(settings->findChild<Combo*>("windowBackgroundMode")->currentText(),
                 QStringLiteral("填满（保持比例裁剪）"));
        QCOMPARE(settings->findChild<QSlider*>("windowBackgroundOpacity")->value(), 25);
        QCOMPARE(settings->findChild<QSlider*>("windowBackgroundPositionX")->value(), 50);
        QCOMPARE(settings->findChild<QSlider*>("windowBackgroundPositionY")->value(), 50);
        QCOMPARE(settings->findChild<QLabel*>("windowBackgroundFile")->text(), QStringLiteral("未设置图片"));
    }
    const QJsonObject saved = workspace.fileAppearance().value("window_background").toObject();
    QCOMPARE(saved.value("fit").toString(), QStringLiteral("cover"));
    QCOMPARE(saved.value("file").toString(), QString());
    // The imported picture stays on disk.
    QCOMPARE(QDir(workspace.folder.filePath("backgrounds")).entryList(QDir::Files).size(), 1);
}

void WindowBackgroundsTest::unreadablePictureIsNamedSo()
{
    WorkspaceFixture workspace;
    workspace.writeFile(QJsonObject{
        {"appearance", QJsonObject{{"receive_background",
                                    QJsonObject{{"file", "backgrounds/gone.png"}, {"opacity", 40}}}}}});
    Window* root = workspace.open();
    root->openSettings();
    QVERIFY(root->receiveBackgroundImage.isNull());
    root->applyBackgrounds();
    auto* file = root->settingsDialog()->findChild<QLabel*>("receiveBackgroundFile");
    QCOMPARE(file->text(), QStringLiteral("gone.png（图片不可用）"));
    QCOMPARE(file->toolTip(), QDir(workspace.folder.path()).filePath("backgrounds/gone.png"));
    QCOMPARE(root->settingsDialog()->findChild<QSlider*>("receiveBackgroundOpacity")->value(), 40);
}

void WindowBackgroundsTest::installerStartsAndTheProgramCloses()
{
    WorkspaceFixture workspace;
    Window* root = workspace.open();
    root->show();
    QTemporaryDir folder;
    const QString installer = folder.filePath(QStringLiteral("Varnelle-setup"));
    QFile file(installer);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write("#!/bin/sh\nprintf '%s\\n' \"$#\" \"$PWD\" > \"$0.ran.tmp\" && mv \"$0.ran.tmp\" \"$0.ran\"\n");
    file.close();
    QFile::setPermissions(installer, QFile::ReadOwner | QFile::WriteOwner | QFile::ReadOther | QFile::ExeOther);

    root->installUpdate(installer);
    QTRY_VERIFY(QFile::exists(installer + QStringLiteral(".ran")));
    QFile record(installer + QStringLiteral(".ran"));
    QVERIFY(record.open(QIODevice::ReadOnly));
    QCOMPARE(QString::fromLocal8Bit(record.readAll()), QStringLiteral("0\n") + QFileInfo(installer).absolutePath() + u'\n');
    // Executable by its owner only.
    QCOMPARE(int(QFileInfo(installer).permissions() & 0x0777), 0x0700);
    QTRY_VERIFY(!root->isVisible());
}

void WindowBackgroundsTest::installerThatCannotStartIsReported()
{
    WorkspaceFixture workspace;
    Window* root = workspace.open();
    root->show();
    QTemporaryDir folder;
    root->installUpdate(folder.filePath(QStringLiteral("missing-setup")));
    QCOMPARE(root->statusBar()->currentMessage(), QStringLiteral("无法启动更新安装程序"));
    QVERIFY(root->isVisible());
}

QTEST_MAIN(WindowBackgroundsTest)
#include "WindowBackgroundsTest.moc"
