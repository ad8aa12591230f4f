#include "ui/kit/BackgroundSettingsPanel.h"
#include "ui/kit/Combo.h"

#include <QApplication>
#include <QDialog>
#include <QFileDialog>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QSlider>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <QVBoxLayout>

#include <memory>

using namespace vn;

namespace {

// Stands in for the windows: keeps both groups, counts changes and imports.
struct Backgrounds {
    BackgroundSpec specs[2];
    bool pictures[2] = {false, false};
    int changes = 0;
    QStringList imported;
    QString importError;
    QDialog* parent = nullptr;
    std::unique_ptr<QDialog> settings;

    BackgroundActions actions()
    {
        BackgroundActions result;
        result.current = [this](bool receive) { return specs[receive]; };
        result.change = [this](bool receive, const BackgroundSpec& look, bool drop) {
            specs[receive] = look;
            if (drop)
                pictures[receive] = false;
            ++changes;
            // As the windows do after applying: the page shows what is in effect.
            syncBackgroundControls(settings.get(), receive, specs[receive], pictures[receive], "/profile");
        };
        result.import = [this](bool receive, const QString& path, QString* error) {
            if (!importError.isEmpty()) {
                *error = importError;
                return false;
            }
            imported << path;
            specs[receive].file = "backgrounds/abc.png";
            specs[receive].name = "abc.png";
            pictures[receive] = true;
            syncBackgroundControls(settings.get(), receive, specs[receive], true, "/profile");
            return true;
        };
        result.dialogParent = [this] { return static_cast<QWidget*>(settings.get()); };
        return result;
    }
};

} // namespace

class TestBackgroundSettings : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void init();
    void cleanup();

    void controlsStartFromTheSpecs();
    void slidersAndFitApplyAtOnce_data();
    void slidersAndFitApplyAtOnce();
    void centreAndReset();
    void chooseCancelledChangesNothing();
    void chooseImportsOrWarns();
    void fileLabelStates_data();
    void fileLabelStates();

private:
    template <typename T>
    T* find(const QString& name) const { return m_state.settings->findChild<T*>(name); }
    // Answers the next file dialog with `path` (empty: cancel).
    void answerFileDialog(const QString& path);

    Backgrounds m_state;
};

void TestBackgroundSettings::init()
{
    m_state = {};
    m_state.specs[1].fit = "tile";
    m_state.specs[1].opacity = 70;
    m_state.specs[1].position_y = 10;
    m_state.settings = std::make_unique<QDialog>();
    auto* layout = new QVBoxLayout(m_state.settings.get());
    layout->addWidget(backgroundSettingsPanel(m_state.actions()));
    m_state.settings->show();
}

void TestBackgroundSettings::cleanup()
{
    m_state.settings.reset();
}

void TestBackgroundSettings::answerFileDialog(const QString& path)
{
    QTimer::singleShot(0, this, [path] {
        auto* dialog = qobject_cast<QFileDialog*>(QApplication::activeModalWidget());
        QVERIFY(dialog);
        QCOMPARE(dialog->windowTitle(), QStringLiteral("选择背景图片"));
        QVERIFY(dialog->nameFilters().first().startsWith(QStringLiteral("常见图片 (*.jpg *.jpeg *.png")));
        if (path.isEmpty()) {
            dialog->reject();
        } else {
            dialog->selectFile(path);
            static_cast<QDialog*>(dialog)->accept();
        }
    });
}

void TestBackgroundSettings::controlsStartFromTheSpecs()
{
    QCOMPARE(find<QLabel>("windowBackgroundFile")->text(), QStringLiteral("未设置图片"));
    QCOMPARE(find<Combo>("windowBackgroundMode")->currentData().toString(), QStringLiteral("cover"));
    QCOMPARE(find<Combo>("receiveBackgroundMode")->currentData().toString(), QStringLiteral("tile"));
    QCOMPARE(find<Combo>("receiveBackgroundMode")->count(), 3);
    QCOMPARE(find<QSlider>("receiveBackgroundOpacity")->value(), 70);
    QCOMPARE(find<QLabel>("receiveBackgroundPercent")->text(), QStringLiteral("70%"));
    QCOMPARE(find<QSlider>("receiveBackgroundPositionY")->value(), 10);
    QCOMPARE(find<QLabel>("receiveBackgroundPositionYValue")->text(), QStringLiteral("10%"));
    QCOMPARE(find<QSlider>("windowBackgroundOpacity")->accessibleName(), QStringLiteral("主界面背景不透明度"));
    QCOMPARE(find<QSlider>("receiveBackgroundPositionX")->accessibleName(), QStringLiteral("收发区背景水平位置"));
    QCOMPARE(find<QPushButton>("windowBackgroundChoose")->property("variant").toString(), QStringLiteral("outline"));
    QCOMPARE(m_state.changes, 0);
}

void TestBackgroundSettings::slidersAndFitApplyAtOnce_data()
{
    QTest::addColumn<QString>("slider");
    QTest::addColumn<QString>("label");
    QTest::newRow("opacity") << "windowBackgroundOpacity" << "windowBackgroundPercent";
    QTest::newRow("horizontal") << "receiveBackgroundPositionX" << "receiveBackgroundPositionXValue";
    QTest::newRow("vertical") << "windowBackgroundPositionY" << "windowBackgroundPositionYValue";
}

void TestBackgroundSettings::slidersAndFitApplyAtOnce()
{
    QFETCH(QString, slider);
    QFETCH(QString, label);
    auto* control = find<QSlider>(slider);
    control->setFocus();
    const int before = control->value();
    QTest::keyClick(control, Qt::Key_Right);
    QTest::keyClick(control, Qt::Key_Right);
    // Each step is applied and saved.
    QCOMPARE(m_state.changes, 2);
    QCOMPARE(find<QLabel>(label)->text(), QString::number(before + 2) + u'%');
    const bool receive = slider.startsWith("receive");
    const BackgroundSpec& look = m_state.specs[receive];
    QCOMPARE(slider.endsWith("Opacity") ? look.opacity : slider.endsWith("X") ? look.position_x : look.position_y,
             before + 2);

    auto* mode = find<Combo>(receive ? "receiveBackgroundMode" : "windowBackgroundMode");
    mode->setCurrentIndex(1);
    QCOMPARE(m_state.specs[receive].fit, QStringLiteral("contain"));
    QCOMPARE(m_state.changes, 3);
}

void TestBackgroundSettings::centreAndReset()
{
    QTest::mouseClick(find<QPushButton>("receiveBackgroundPositionReset"), Qt::LeftButton);
    QCOMPARE(m_state.specs[1].position_x, 50);
    QCOMPARE(m_state.specs[1].position_y, 50);
    QCOMPARE(m_state.specs[1].fit, QStringLiteral("tile"));
    QCOMPARE(find<QSlider>("receiveBackgroundPositionY")->value(), 50);

    m_state.pictures[1] = true;
    m_state.specs[1].file = "backgrounds/x.png";
    QTest::mouseClick(find<QPushButton>("receiveBackgroundReset"), Qt::LeftButton);
    QVERIFY(m_state.specs[1] == BackgroundSpec());
    QVERIFY(!m_state.pictures[1]);
    QCOMPARE(find<Combo>("receiveBackgroundMode")->currentIndex(), 0);
    QCOMPARE(find<Combo>("receiveBackgroundMode")->currentText(), QStringLiteral("填满（保持比例裁剪）"));
    QCOMPARE(find<QSlider>("receiveBackgroundOpacity")->value(), 25);
    QCOMPARE(find<QSlider>("receiveBackgroundPositionX")->value(), 50);
    QCOMPARE(find<QLabel>("receiveBackgroundFile")->text(), QStringLiteral("未设置图片"));
    QCOMPARE(m_state.changes, 2);
}

void TestBackgroundSettings::chooseCancelledChangesNothing()
{
    answerFileDialog(QString());
    QTest::mouseClick(find<QPushButton>("windowBackgroundChoose"), Qt::LeftButton);
    QVERIFY(m_state.imported.isEmpty());
    QCOMPARE(m_state.changes, 0);
    QVERIFY(m_state.settings->findChildren<QMessageBox*>().isEmpty());
}

void TestBackgroundSettings::chooseImportsOrWarns()
{
    QTemporaryDir dir;
    const QString picture = dir.filePath("sea.png");
    QImage(4, 4, QImage::Format_RGB32).save(picture);

    answerFileDialog(picture);
    QTest::mouseClick(find<QPushButton>("receiveBackgroundChoose"), Qt::LeftButton);
    QCOMPARE(m_state.imported, QStringList{picture});
    QCOMPARE(find<QLabel>("receiveBackgroundFile")->text(), QStringLiteral("abc.png"));
    QCOMPARE(m_state.specs[1].opacity, 70); // import keeps the tuning

    m_state.importError = QStringLiteral("图片无法识别或尺寸过大，请选择不超过 6400 万像素的图片。");
    answerFileDialog(picture);
    QString warning;
    // The warning comes up once the file dialog has closed.
    QTimer watcher;
    connect(&watcher, &QTimer::timeout, this, [this, &warning, &watcher] {
        auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
        if (box == nullptr)
            return;
        watcher.stop();
        QCOMPARE(box->parentWidget(), m_state.settings.get());
        warning = box->windowTitle() + u'|' + box->text();
        box->accept();
    });
    watcher.start(10);
    QTest::mouseClick(find<QPushButton>("windowBackgroundChoose"), Qt::LeftButton);
    QCOMPARE(warning, QStringLiteral("无法设置背景|") + m_state.importError);
    QCOMPARE(m_state.imported.size(), 1);
}

void TestBackgroundSettings::fileLabelStates_data()
{
    QTest::addColumn<QString>("file");
    QTest::addColumn<bool>("picture");
    QTest::addColumn<QString>("text");
    QTest::newRow("none") << QString() << false << QStringLiteral("未设置图片");
    QTest::newRow("present") << QStringLiteral("backgrounds/a.png") << true << QStringLiteral("海.png");
    QTest::newRow("unreadable") << QStringLiteral("backgrounds/a.png") << false
                                << QStringLiteral("海.png（图片不可用）");
}

void TestBackgroundSettings::fileLabelStates()
{
    QFETCH(QString, file);
    QFETCH(bool, picture);
    QFETCH(QString, text);
    BackgroundSpec look;
    look.file = file;
    look.name = QStringLiteral("海.png");
    look.fit = QStringLiteral("Tile"); // not a known word: the first item
    syncBackgroundControls(m_state.settings.get(), false, look, picture, QStringLiteral("/profile"));
    QCOMPARE(find<QLabel>("windowBackgroundFile")->text(), text);
    QCOMPARE(find<QLabel>("windowBackgroundFile")->toolTip(),
             file.isEmpty() ? QStringLiteral("/profile") : QStringLiteral("/profile/") + file);
    QCOMPARE(find<Combo>("windowBackgroundMode")->currentIndex(), 0);
    QCOMPARE(m_state.changes, 0);
}

QTEST_MAIN(TestBackgroundSettings)
#include "tst_BackgroundSettings.moc"
