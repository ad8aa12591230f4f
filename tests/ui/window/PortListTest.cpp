#include "core/Channel.h"
#include "platform/DeviceWatch.h"
#include "tests/support/TestSupport.h"
#include "ui/pages/Pane.h"
#include "ui/window/Window.h"

#include "WorkspaceFixture.h"

#include <QAbstractItemView>
#include <QComboBox>
#include <QJsonArray>
#include <QLabel>
#include <QLineEdit>
#include <QPainter>
#include <QPushButton>
#include <QStandardPaths>
#include <QStatusBar>
#include <QStyledItemDelegate>
#include <QTest>
#include <QTimer>

using namespace vn;

namespace {

constexpr int JtagRole = Qt::UserRole + 1;
constexpr int ObjectRole = Qt::UserRole + 2;

QJsonObject usbPort(const QString& name)
{
    return {{"port", name},
            {"description", "USB Serial"},
            {"hwid", "USB VID:PID=0403:6001"},
            {"manufacturer", "FTDI"},
            {"serial_number", "A10K3"},
            {"system_location", "/dev/" + name},
            {"vendor_id", 0x0403},
            {"product_id", 0x6001},
            {"usb_serial_jtag", false}};
}

QJsonObject barePort(const QString& name)
{
    return {{"port", name}, {"description", ""}, {"hwid", ""}, {"manufacturer", ""}, {"serial_number", ""},
            {"system_location", "/dev/" + name}, {"vendor_id", QJsonValue()}, {"product_id", QJsonValue()},
            {"usb_serial_jtag", false}};
}

QStringList itemsOf(QComboBox* box)
{
    QStringList items;
    for (int index = 0; index < box->count(); ++index)
        items.append(box->itemText(index));
    return items;
}

} // namespace

class PortListTest : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void init();
    void cleanup();

    void listFollowsTheProvider();
    void detailsOfTheShownPort_data();
    void detailsOfTheShownPort();
    void listedCaseWinsAndTheCaretStays();
    void aTypedPathStaysWhileItIsTyped();
    void aTypedPathWaitsForItsDevice();
    void aVanishingPort_data();
    void aVanishingPort();
    void delegateSizes();
    void aDeviceChangeListsThePortsSoon();

private:
    void list(const QJsonArray& ports)
    {
        provided = ports;
        window->refreshPorts();
    }
    void choose(const QString& name)
    {
        QComboBox* box = port();
        const int index = box->findText(name);
        QVERIFY(index >= 0);
        box->setCurrentIndex(index);
        Q_EMIT box->activated(index);
    }
    QComboBox* port() { return window->findChild<QComboBox*>(QStringLiteral("serialPort")); }
    QLabel* labelNamed(const char* name) { return window->findChild<QLabel*>(QLatin1String(name)); }

    std::unique_ptr<test::WorkspaceFixture> fixture;
    Window* window = nullptr;
    QJsonArray provided;
};

void PortListTest::init()
{
    fixture = std::make_unique<test::WorkspaceFixture>();
    window = fixture->open();
    window->portProvider = [this]() { return provided; };
    window->show();
    QVERIFY(QTest::qWaitForWindowExposed(window));
    list({});
}

void PortListTest::cleanup()
{
    fixture.reset();
    window = nullptr;
}

void PortListTest::listFollowsTheProvider()
{
    QCOMPARE(itemsOf(port()), QStringList{"NULL"});
    // Duplicates, empty names and "NULL" itself give no item of their own.
    list({usbPort("ttyUSB0"), barePort("ttyACM0"), usbPort("ttyUSB0"), barePort(""), barePort("NULL")});
    QCOMPARE(itemsOf(port()), QStringList({"NULL", "ttyUSB0", "ttyACM0"}));
    QVERIFY(port()->itemData(0, ObjectRole).isNull());
    QCOMPARE(port()->itemData(1, ObjectRole).toJsonObject(), usbPort("ttyUSB0"));
    QCOMPARE(port()->itemData(1, JtagRole).toBool(), false);
    QCOMPARE(port()->itemData(1, Qt::ToolTipRole).toString(),
             QStringLiteral("ttyUSB0\nUSB Serial\n制造商：FTDI\nVID 0403 · PID 6001\n序列号：A10K3\n设备路径：/dev/ttyUSB0"));
    QCOMPARE(port()->itemData(2, Qt::ToolTipRole).toString(), QStringLiteral("ttyACM0\n设备路径：/dev/ttyACM0"));

    // A new order moves the items; a port that left takes its item with it.
    list({barePort("ttyACM0"), barePort("ttyS4"), usbPort("ttyUSB0")});
    QCOMPARE(itemsOf(port()), QStringList({"NULL", "ttyACM0", "ttyS4", "ttyUSB0"}));
    QCOMPARE(port()->itemData(3, ObjectRole).toJsonObject(), usbPort("ttyUSB0"));
    list({barePort("ttyS4")});
    QCOMPARE(itemsOf(port()), QStringList({"NULL", "ttyS4"}));
    list({});
    QCOMPARE(itemsOf(port()), QStringList{"NULL"});
}

void PortListTest::detailsOfTheShownPort_data()
{
    QTest::addColumn<QJsonObject>("listed");
    QTest::addColumn<QString>("details");
    QTest::addColumn<QString>("note");

    QJsonObject jtag = usbPort("ttyACM1");
    jtag.insert("vendor_id", 0x303A);
    jtag.insert("product_id", 0x1001);
    jtag.insert("usb_serial_jtag", true);
    jtag.insert("description", "USB JTAG/serial debug unit");
    jtag.insert("manufacturer", "Espressif");
    QJsonObject hwidOnly = barePort("ttyS0");
    hwidOnly.remove("serial_number");
    hwidOnly.insert("hwid", "PNP0501");

    QTest::newRow("usb") << usbPort("ttyUSB0") << "USB Serial\n制造商：FTDI\nVID 0403 · PID 6001\n序列号：A10K3"
                         << "";
    QTest::newRow("usb serial jtag") << jtag
                                     << "USB JTAG/serial debug unit\n制造商：Espressif\nVID 303A · PID 1001\n序列号：A10K3"
                                     << "USB Serial/JTAG · 速率由 USB 决定";
    QTest::newRow("no serial number key") << hwidOnly << "序列号：PNP0501" << "";
    QTest::newRow("nothing known") << barePort("ttyS1") << "" << "";
}

void PortListTest::detailsOfTheShownPort()
{
    QFETCH(QJsonObject, listed);
    QFETCH(QString, details);
    QFETCH(QString, note);

    list({listed});
    const QString name = listed.value("port").toString();
    choose(name);
    QCOMPARE(port()->currentText(), name);
    QLabel* detailsLabel = labelNamed("portDetails");
    QCOMPARE(detailsLabel->text(), details);
    QCOMPARE(detailsLabel->isVisible(), !details.isEmpty());
    QCOMPARE(port()->toolTip(), port()->itemData(1, Qt::ToolTipRole).toString());
    QLabel* noteLabel = labelNamed("serialNote");
    QCOMPARE(noteLabel->text(), note);
    QCOMPARE(noteLabel->isVisible(), !note.isEmpty());
    // An unconnected page remembers the port the user chose.
    QCOMPARE(window->current->config.port, name);
}

void PortListTest::listedCaseWinsAndTheCaretStays()
{
    list({usbPort("ttyUSB0")});
    Config config;
    config.port = QStringLiteral("TTYusb0");
    window->loadForm(config);
    QCOMPARE(port()->currentText(), QStringLiteral("ttyUSB0"));

    // A device path keeps its case: it only names itself.
    config.port = QStringLiteral("/dev/TTYusb0");
    window->loadForm(config);
    QCOMPARE(port()->currentText(), QStringLiteral("NULL"));

    choose(QStringLiteral("ttyUSB0"));
    QLineEdit* edit = port()->lineEdit();
    edit->setSelection(2, 3);
    list({barePort("ttyACM0"), usbPort("ttyUSB0")});
    QCOMPARE(port()->currentText(), QStringLiteral("ttyUSB0"));
    QCOMPARE(edit->selectionStart(), 2);
    QCOMPARE(edit->selectedText(), QStringLiteral("yUS"));
}

void PortListTest::aTypedPathStaysWhileItIsTyped()
{
    window->activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(window));
    QLineEdit* edit = port()->lineEdit();
    edit->setFocus();
    QTest::keyClick(edit, Qt::Key_A, Qt::ControlModifier);
    QTest::keyClicks(edit, QStringLiteral("/dev/ttyNoSuch"));
    window->refreshPorts();
    QCOMPARE(port()->currentText(), QStringLiteral("/dev/ttyNoSuch"));
    QCOMPARE(edit->cursorPosition(), 14);

    // Any name half-typed stays too: "loo" on its way to "loop://".
    QTest::keyClick(edit, Qt::Key_A, Qt::ControlModifier);
    QTest::keyClicks(edit, QStringLiteral("loo"));
    window->refreshPorts();
    QCOMPARE(port()->currentText(), QStringLiteral("loo"));
    QTest::keyClicks(edit, QStringLiteral("p://"));
    window->refreshPorts();
    QCOMPARE(port()->currentText(), QStringLiteral("loop://"));
    QTest::keyClick(edit, Qt::Key_A, Qt::ControlModifier);
    QTest::keyClicks(edit, QStringLiteral("/dev/ttyNoSuch"));

    // Typing done, a path stays although no device node is there.
    QTest::keyClick(edit, Qt::Key_Tab);
    window->refreshPorts();
    QCOMPARE(port()->currentText(), QStringLiteral("/dev/ttyNoSuch"));

    // A half-typed name that is no path does not outlast the typing.
    edit->setFocus();
    QTest::keyClick(edit, Qt::Key_A, Qt::ControlModifier);
    QTest::keyClicks(edit, QStringLiteral("tty"));
    QTest::keyClick(edit, Qt::Key_Tab);
    window->refreshPorts();
    QCOMPARE(port()->currentText(), QStringLiteral("NULL"));

    // A node that exists stays, though the system's list does not name it.
    Config config;
    config.port = QStringLiteral("/dev/null");
    window->loadForm(config);
    window->refreshPorts();
    QCOMPARE(port()->currentText(), QStringLiteral("/dev/null"));
}

void PortListTest::aTypedPathWaitsForItsDevice()
{
    if (QStandardPaths::findExecutable(QStringLiteral("socat")).isEmpty())
        QSKIP("socat is not installed");
    test::SocatPair pair; // not started yet: its link path names no device
    const QString path = pair.portA();
    window->activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(window));
    QLineEdit* edit = port()->lineEdit();
    edit->setFocus();
    QTest::keyClick(edit, Qt::Key_A, Qt::ControlModifier);
    QTest::keyClicks(edit, path);
    QTest::keyClick(edit, Qt::Key_Tab);
    window->refreshPorts();
    QCOMPARE(port()->currentText(), path);
    QCOMPARE(labelNamed("portDetails")->text(), QStringLiteral("设备不存在，接入后自动识别"));

    // Connecting says which device is missing, and the path stays for the next try.
    auto* connect = window->findChild<QWidget*>("sidebar")->findChild<QPushButton*>("primary");
    QTest::mouseClick(connect, Qt::LeftButton);
    const QString missing = QStringLiteral("串口 %1 不存在").arg(path);
    QCOMPARE(window->statusBar()->currentMessage(), QStringLiteral("操作失败：") + missing);
    QVERIFY(window->current->channel);
    QCOMPARE(window->current->channel->error, missing);
    window->refreshPorts();
    QCOMPARE(port()->currentText(), path);

    // The device appears: the note goes, and the same path connects.
    QVERIFY(pair.start());
    window->refreshPorts();
    QCOMPARE(port()->currentText(), path);
    QVERIFY(labelNamed("portDetails")->isHidden());
    QTest::mouseClick(connect, Qt::LeftButton);
    QTRY_COMPARE_WITH_TIMEOUT(window->current->channel->state, QStringLiteral("connected"), 20000);
    QCOMPARE(window->current->channel->config.port, path);
    QCOMPARE(port()->currentText(), path);

    // Once the system lists a port at that path, the path is described as it.
    QJsonObject listed = usbPort(QStringLiteral("ttyUSB7"));
    listed.insert("system_location", path);
    list({listed});
    QCOMPARE(port()->currentText(), path);
    QCOMPARE(labelNamed("portDetails")->text(), QStringLiteral("USB Serial\n制造商：FTDI\nVID 0403 · PID 6001\n序列号：A10K3"));
    pair.stop();
}

void PortListTest::aVanishingPort_data()
{
    QTest::addColumn<bool>("connected");
    QTest::newRow("held by its connected page") << true;
    QTest::newRow("chosen only") << false;
}

void PortListTest::aVanishingPort()
{
    QFETCH(bool, connected);
    if (QStandardPaths::findExecutable(QStringLiteral("socat")).isEmpty())
        QSKIP("socat is not installed");
    test::SocatPair pair;
    QVERIFY(pair.start());
    QJsonObject listed = usbPort(pair.portA());
    listed.insert("system_location", pair.portA());
    list({listed});
    choose(pair.portA());
    if (connected) {
        QTest::mouseClick(window->findChild<QWidget*>("sidebar")->findChild<QPushButton*>("primary"), Qt::LeftButton);
        QVERIFY(window->current->channel);
        QTRY_COMPARE(window->current->channel->state, QStringLiteral("connected"));
    }

    // The list no longer names the port, and its device node is gone too.
    list({});
    pair.stop();
    window->refreshPorts();
    QCOMPARE(itemsOf(port()), QStringList{"NULL"});
    if (!connected) {
        QCOMPARE(port()->currentText(), QStringLiteral("NULL"));
        QVERIFY(labelNamed("portDetails")->isHidden());
        return;
    }
    Channel* channel = window->current->channel;
    QCOMPARE(channel->state, QStringLiteral("reconnecting"));
    QCOMPARE(port()->currentText(), pair.portA());
    // The description of the vanished device stays while its channel waits.
    QCOMPARE(labelNamed("portDetails")->text(), QStringLiteral("USB Serial\n制造商：FTDI\nVID 0403 · PID 6001\n序列号：A10K3"));
    QCOMPARE(labelNamed("serialNote")->text(), QStringLiteral("%1 已断开，等待设备恢复").arg(pair.portA()));

    // Closed by the user, the port is no longer held.
    QTest::mouseClick(window->findChild<QWidget*>("sidebar")->findChild<QPushButton*>("primary"), Qt::LeftButton);
    QCOMPARE(channel->state, QStringLiteral("closed"));
    window->refreshPorts();
    QCOMPARE(port()->currentText(), QStringLiteral("NULL"));
}

void PortListTest::delegateSizes()
{
    list({usbPort("ttyUSB0")});
    QAbstractItemDelegate* delegate = port()->itemDelegate();
    QVERIFY(delegate->inherits("vn::PortDelegate"));
    QStyleOptionViewItem option;
    option.font = port()->view()->font();
    option.rect = QRect(0, 0, 430, 60);
    const int line = QFontMetrics(option.font).height();
    const QModelIndex placeholder = port()->model()->index(0, 0);
    const QModelIndex listed = port()->model()->index(1, 0);
    QCOMPARE(delegate->sizeHint(option, placeholder), QSize(430, 18 + line));
    QCOMPARE(delegate->sizeHint(option, listed), QSize(430, 18 + 2 * line));

    // Both kinds of entry paint inside their rectangle.
    QImage canvas(430, 60, QImage::Format_ARGB32);
    canvas.fill(Qt::transparent);
    QPainter painter(&canvas);
    delegate->paint(&painter, option, listed);
    delegate->paint(&painter, option, placeholder);
    painter.end();
    bool drawn = false;
    for (int y = 0; y < canvas.height() && !drawn; ++y) {
        for (int x = 0; x < canvas.width() && !drawn; ++x)
            drawn = canvas.pixelColor(x, y).alpha() > 0;
    }
    QVERIFY(drawn);
}

void PortListTest::aDeviceChangeListsThePortsSoon()
{
    int listings = 0;
    window->portProvider = [this, &listings]() {
        ++listings;
        return provided;
    };
    window->findChild<QTimer*>(QStringLiteral("portTimer"))->stop();
    auto* watch = window->findChild<platform::DeviceWatch*>(QStringLiteral("deviceWatch"));
    auto* refresh = window->findChild<QTimer*>(QStringLiteral("deviceRefreshTimer"));
    QVERIFY(watch && refresh);
    QVERIFY(watch->watched().contains(QStringLiteral("/dev")));
    QVERIFY(refresh->isSingleShot());
    QCOMPARE(refresh->interval(), 150);

    provided = {usbPort("ttyUSB3")};
    Q_EMIT watch->devicesChanged();
    Q_EMIT watch->devicesChanged();
    QVERIFY(refresh->isActive());
    QCOMPARE(listings, 0);
    QTRY_COMPARE(itemsOf(port()), QStringList({"NULL", "ttyUSB3"}));
    // A burst of changes lists the ports once.
    QCOMPARE(listings, 1);
    window->portProvider = [this]() { return provided; };
}

QTEST_MAIN(PortListTest)
#include "PortListTest.moc"
