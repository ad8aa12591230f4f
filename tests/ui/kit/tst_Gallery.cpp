#include "ui/kit/Combo.h"
#include "ui/kit/ConnectionBar.h"
#include "ui/kit/Factories.h"
#include "ui/kit/IconButton.h"
#include "ui/kit/IconPainter.h"
#include "ui/kit/SearchBox.h"
#include "ui/kit/Splitter.h"
#include "ui/kit/StatusLed.h"
#include "ui/kit/Theme.h"

#include <QApplication>
#include <QCheckBox>
#include <QDir>
#include <QFontDatabase>
#include <QFontInfo>
#include <QFrame>
#include <QGridLayout>
#include <QLabel>
#include <QAbstractItemView>
#include <QMenu>
#include <QPainter>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QSlider>
#include <QSpinBox>
#include <QTabWidget>
#include <QTest>
#include <QVBoxLayout>

using namespace vn;

namespace {

const QStringList iconNames = {
    "gear", "plus", "clock", "hex", "wrap", "terminal", "cursor", "json", "code", "xml", "scriptCollapse",
    "scriptExpand", "clipboard", "dock", "control", "widgets", "close", "refresh", "search", "pause", "play",
    "trash", "follow", "export", "repeat", "wave", "port", "lightning", "file-transfer", "send", "more", "?"};

// One themed panel holding a piece of every widget of the kit.
QWidget* gallery(const Theme& theme)
{
    auto* root = new QWidget;
    root->setObjectName(QStringLiteral("root"));
    root->setAttribute(Qt::WA_StyledBackground);
    root->setStyleSheet(theme.stylesheet());
    root->setFont(Theme::interfaceFont());
    auto* row = horizontal(root);

    auto* rail = new QFrame;
    rail->setObjectName(QStringLiteral("rail"));
    auto* railLayout = new QVBoxLayout(rail);
    for (const char* name : {"lightning", "wave", "control", "gear"}) {
        auto* button = new IconButton(QString::fromLatin1(name), QString::fromLatin1(name));
        button->theme = theme;
        railLayout->addWidget(button);
    }
    railLayout->addStretch();
    row->addWidget(rail);

    auto* sidebar = new QFrame;
    sidebar->setObjectName(QStringLiteral("sidebar"));
    auto* side = new QVBoxLayout(sidebar);
    side->addWidget(label(QStringLiteral("新建连接"), QStringLiteral("section")));
    side->addWidget(new ProtocolCombo);
    side->addWidget(combo({QStringLiteral("115200"), QStringLiteral("9600")}, QStringLiteral("115200"), true));
    auto* spin = new QSpinBox;
    spin->setValue(8);
    side->addWidget(spin);
    auto* lamps = horizontal(nullptr);
    for (int state = 0; state < 4; ++state) {
        auto* led = new StatusLed;
        led->theme = theme;
        led->setState(StatusLed::State(state));
        lamps->addWidget(led);
    }
    lamps->addWidget(label(QStringLiteral("已连接"), QStringLiteral("connectionState")));
    side->addLayout(lamps);
    auto* checked = new QCheckBox(QStringLiteral("显示时间戳"));
    checked->setChecked(true);
    auto* partial = new QCheckBox(QStringLiteral("部分选中"));
    partial->setTristate(true);
    partial->setCheckState(Qt::PartiallyChecked);
    side->addWidget(checked);
    side->addWidget(partial);
    side->addWidget(new QCheckBox(QStringLiteral("自动重连")));
    auto* slider = new QSlider(Qt::Horizontal);
    slider->setValue(60);
    side->addWidget(slider);
    side->addWidget(label(QStringLiteral("中文界面文字：串口收发"), QStringLiteral("muted")));
    side->addStretch();
    row->addWidget(sidebar);

    auto* workspace = new QWidget;
    workspace->setObjectName(QStringLiteral("workspace"));
    workspace->setAttribute(Qt::WA_StyledBackground);
    auto* work = new QVBoxLayout(workspace);
    auto* header = new QWidget;
    header->setObjectName(QStringLiteral("tabHeader"));
    header->setAttribute(Qt::WA_StyledBackground);
    auto* headerRow = horizontal(header);
    auto* bar = new ConnectionBar;
    bar->addTab(icon(QStringLiteral("port"), theme.text, 20), QStringLiteral("COM3 · 115200"));
    bar->addTab(QStringLiteral("TCP 客户端 127.0.0.1:9000"));
    bar->addTab(QStringLiteral("一个名字很长很长很长很长很长的连接标签"));
    headerRow->addWidget(bar);
    headerRow->addStretch();
    work->addWidget(header);

    auto* tools = horizontal(nullptr);
    auto* search = new SearchBox;
    search->setText(QStringLiteral("错误 && timeout"));
    search->clearButton()->theme = theme;
    tools->addWidget(search);
    tools->addWidget(button(QStringLiteral("发送"), QStringLiteral("primary")));
    tools->addWidget(button(QStringLiteral("取消"), QStringLiteral("outline")));
    tools->addWidget(button(QStringLiteral("普通"), QString()));
    auto* disabled = button(QStringLiteral("不可用"), QStringLiteral("primary"));
    disabled->setEnabled(false);
    tools->addWidget(disabled);
    work->addLayout(tools);

    auto* splitter = new Splitter(Qt::Horizontal);
    auto* text = new QPlainTextEdit(QStringLiteral("RX 01 03 00 00 00 0A C5 CD\n@wave temp=21.5,hum=40\n收到：温度正常"));
    text->setFont(Theme::defaultDataFont());
    splitter->addWidget(text);
    auto* tabs = new QTabWidget;
    tabs->addTab(new QWidget, QStringLiteral("试解析"));
    tabs->addTab(new QWidget, QStringLiteral("帮助"));
    splitter->addWidget(tabs);
    work->addWidget(splitter, 1);

    auto* progress = new QProgressBar;
    progress->setObjectName(QStringLiteral("updateProgress"));
    progress->setValue(40);
    work->addWidget(progress);

    auto* icons = new QGridLayout;
    for (int index = 0; index < iconNames.size(); ++index) {
        auto* glyph = new QLabel;
        glyph->setPixmap(icon(iconNames[index], theme.text, 24).pixmap(24, 24));
        glyph->setToolTip(iconNames[index]);
        icons->addWidget(glyph, index / 16, index % 16);
    }
    work->addLayout(icons);
    row->addWidget(workspace, 1);
    root->resize(1100, 560);
    return root;
}

} // namespace

class TestGallery : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void chineseTextHasACjkFont();
    void galleryRendersInBothThemes();
    void popupsRenderRounded();
};

void TestGallery::chineseTextHasACjkFont()
{
    const QStringList chinese = QFontDatabase::families(QFontDatabase::SimplifiedChinese);
    QVERIFY(!chinese.isEmpty());
    const QFont interface = Theme::interfaceFont();
    QVERIFY2(chinese.contains(QFontInfo(interface).family()), qPrintable(QFontInfo(interface).family()));
    const QFontMetrics metrics(interface);
    for (const char32_t character : {U'串', U'口', U'收', U'发', U'，'}) {
        QVERIFY(metrics.inFontUcs4(character));
    }
    // Chinese in the data font falls back to the interface family.
    const QFont data = Theme::defaultDataFont();
    QVERIFY(QFontMetrics(data).horizontalAdvance(QStringLiteral("串")) > 0);
}

void TestGallery::galleryRendersInBothThemes()
{
    // One variant at a time: the motion overlays paint with the latest sheet's palette.
    auto shoot = [](bool dark) {
        std::unique_ptr<QWidget> panel(gallery(Theme::make(dark)));
        panel->show();
        return QTest::qWaitForWindowExposed(panel.get()) ? panel->grab() : QPixmap();
    };
    const QPixmap top = shoot(false);
    const QPixmap bottom = shoot(true);
    QVERIFY(!top.isNull() && !bottom.isNull());
    QImage sheet(top.width(), top.height() + bottom.height(), QImage::Format_ARGB32);
    sheet.fill(Qt::white);
    {
        QPainter painter(&sheet);
        painter.drawPixmap(0, 0, top);
        painter.drawPixmap(0, top.height(), bottom);
    }
    const QString path = QDir(QStringLiteral(VN_BINARY_DIR)).filePath(QStringLiteral("kit-gallery.png"));
    QVERIFY(sheet.save(path));
    qInfo("gallery written to %s", qPrintable(path));

    // Each variant paints its own window colour behind the content.
    QCOMPARE(top.toImage().pixelColor(top.width() - 2, top.height() - 2), Theme::make(false).panel);
    QCOMPARE(bottom.toImage().pixelColor(bottom.width() - 2, bottom.height() - 2), Theme::make(true).panel);
}

void TestGallery::popupsRenderRounded()
{
    const Theme theme = Theme::make(false);
    QWidget window;
    window.setStyleSheet(theme.stylesheet());
    auto* layout = new QVBoxLayout(&window);
    auto* list = combo({QStringLiteral("9600"), QStringLiteral("115200"), QStringLiteral("921600")},
                       QStringLiteral("115200"), false);
    layout->addWidget(list);
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));

    list->showPopup();
    QWidget* popup = list->view()->window();
    QTRY_VERIFY(popup->isVisible());
    const QPixmap listShot = popup->grab();
    list->hidePopup();

    QMenu menu(&window);
    menu.addAction(QStringLiteral("复制"));
    menu.addAction(QStringLiteral("全选"))->setCheckable(true);
    menu.actions().last()->setChecked(true);
    menu.addSeparator();
    menu.addAction(QStringLiteral("清空"));
    menu.popup(window.mapToGlobal(QPoint(0, 0)));
    QTRY_VERIFY(menu.isVisible());
    const QPixmap menuShot = menu.grab();
    menu.hide();

    QImage sheet(listShot.width() + menuShot.width() + 30, std::max(listShot.height(), menuShot.height()) + 20,
                 QImage::Format_ARGB32);
    sheet.fill(theme.bg);
    {
        QPainter painter(&sheet);
        painter.drawPixmap(10, 10, listShot);
        painter.drawPixmap(listShot.width() + 20, 10, menuShot);
    }
    QVERIFY(sheet.save(QDir(QStringLiteral(VN_BINARY_DIR)).filePath(QStringLiteral("kit-popups.png"))));
    // The rounded corner is left clear; the middle is the panel colour.
    QCOMPARE(listShot.toImage().pixelColor(0, 0).alpha(), 0);
    QCOMPARE(menuShot.toImage().pixelColor(0, 0).alpha(), 0);
}

QTEST_MAIN(TestGallery)
#include "tst_Gallery.moc"
