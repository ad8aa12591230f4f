#include "core/Channel.h"
#include "core/Engine.h"
#include "tests/support/TestSupport.h"
#include "ui/kit/ConnectionBar.h"
#include "ui/kit/StatusLed.h"
#include "ui/pages/Pane.h"
#include "ui/window/Window.h"

#include "WorkspaceFixture.h"

#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSignalSpy>
#include <QSpinBox>
#include <QStackedWidget>
#include <QStandardPaths>
#include <QStatusBar>
#include <QTest>
#include <QTimer>

using namespace vn;

namespace {

template <typename T>
T* child(QWidget* window, const char* name)
{
    return window->findChild<T*>(QLatin1String(name));
}

// The lamp's own colour at a point inside its disc, away from the highlight.
QColor lampColour(StatusLed* led)
{
    return led->grab().toImage().pixelColor(13, 13);
}

} // namespace

class ConnectionSidebarTest : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void init();
    void cleanup();

    void formControls();
    void formReading_data();
    void formReading();
    void kindPages_data();
    void kindPages();
    void loopbackConnectsAndCloses();
    void statesInSidebarAndStatusLine_data();
    void statesInSidebarAndStatusLine();
    void anotherKindShowsNoState();
    void nameFieldRenamesTheConnection();
    void serialPortLiveBaudAndReplug();
    void changedSettingsOpenASecondPage();
    void controlPagesEditTheirSource();
    void aControlPageInAnotherWindowEditsItsSource();
    void theFormIsSavedAsTheConnection();
    void liveChangesNeedTheSamePort();
    void aDemoKindLeavesTheSelector();
    void scriptToggleAppliesThePagesScript();

private:
    void typeInto(QLineEdit* edit, const QString& text);
    void typePort(const QString& text) { typeInto(port()->lineEdit(), text); }
    void clickConnect() { QTest::mouseClick(connectButton(), Qt::LeftButton); }
    QComboBox* port() { return child<QComboBox>(window, "serialPort"); }
    QPushButton* connectButton() { return child<QWidget>(window, "sidebar")->findChild<QPushButton*>("primary"); }
    QLabel* stateLabel() { return child<QLabel>(window, "connectionState"); }
    StatusLed* led() { return child<StatusLed>(window, "connectionLed"); }
    QString statusText() { return child<QLabel>(window, "statusText")->text(); }

    std::unique_ptr<test::WorkspaceFixture> fixture;
    Window* window = nullptr;
};

void ConnectionSidebarTest::init()
{
    fixture = std::make_unique<test::WorkspaceFixture>();
    window = fixture->open();
    window->show();
    window->activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(window));
}

void ConnectionSidebarTest::cleanup()
{
    fixture.reset();
    window = nullptr;
}

void ConnectionSidebarTest::typeInto(QLineEdit* edit, const QString& text)
{
    edit->setFocus();
    QTest::keyClick(edit, Qt::Key_A, Qt::ControlModifier);
    QTest::keyClick(edit, Qt::Key_Delete);
    QTest::keyClicks(edit, text);
    QTest::keyClick(edit, Qt::Key_Tab);
}

void ConnectionSidebarTest::formControls()
{
    for (const char* name : {"pixelBrand", "brandTitle", "brandSubtitle", "protocolSelector", "serialPort",
                             "portDetails", "baudRate", "dataBits", "parity", "stopBits", "flowControl", "dtr", "rts",
                             "serialNote", "remoteHost", "remotePort", "bindHost", "bindPort", "sshHost", "sshUser",
                             "sshPort", "sshIdentity", "sshClearCache", "connectionName", "connectionLed",
                             "connectionState", "scriptControls", "scriptToggle", "scriptEdit", "scriptHint",
                             "connectionHint"})
        QVERIFY2(child<QWidget>(window, name), name);

    QCOMPARE(child<QLabel>(window, "brandTitle")->text(), QStringLiteral("Varnelle"));
    QCOMPARE(child<QLabel>(window, "brandSubtitle")->text(), QStringLiteral("串口 / 网络 / SSH"));

    // The port box starts on the loopback placeholder, never adds typed text
    // and has no completer.
    QComboBox* box = port();
    QCOMPARE(box->itemText(0), QStringLiteral("NULL"));
    QCOMPARE(box->insertPolicy(), QComboBox::NoInsert);
    QVERIFY(!box->completer());
    QCOMPARE(box->height(), 40);
    QCOMPARE(child<QComboBox>(window, "baudRate")->height(), 40);

    auto* baud = child<QComboBox>(window, "baudRate");
    QCOMPARE(baud->count(), 13);
    const QStringList rates{"1200",   "2400",   "4800",   "9600",   "19200",   "38400",  "57600",
                            "115200", "230400", "460800", "921600", "1000000", "2000000"};
    for (int index = 0; index < rates.size(); ++index)
        QCOMPARE(baud->itemText(index), rates.at(index));
    QCOMPARE(baud->currentText(), QStringLiteral("115200"));
    QCOMPARE(baud->toolTip(), QStringLiteral("连接后选择新值会立即应用，并回读串口驱动确认"));

    QCOMPARE(child<QComboBox>(window, "dataBits")->currentText(), QStringLiteral("8"));
    QCOMPARE(child<QComboBox>(window, "parity")->count(), 5);
    QCOMPARE(child<QComboBox>(window, "stopBits")->count(), 3);
    QCOMPARE(child<QComboBox>(window, "flowControl")->currentText(), QStringLiteral("none"));
    QCOMPARE(child<QSpinBox>(window, "remotePort")->value(), 9000);
    QCOMPARE(child<QSpinBox>(window, "bindPort")->value(), 9001);

    QCOMPARE(stateLabel()->text(), QStringLiteral("未连接"));
    QCOMPARE(led()->state(), StatusLed::Neutral);
    QCOMPARE(connectButton()->text(), QStringLiteral("建立连接"));
    QCOMPARE(statusText(), QStringLiteral("尚未连接    选择端口开始接收"));
    QCOMPARE(port()->toolTip(), QStringLiteral("选择串口；设备插拔时列表会自动更新"));
}

void ConnectionSidebarTest::formReading_data()
{
    QTest::addColumn<int>("kind");
    QTest::addColumn<QString>("baud");
    QTest::addColumn<QString>("sshPort");
    QTest::addColumn<QString>("failure");
    QTest::addColumn<int>("readSshPort");

    QTest::newRow("serial") << 0 << "9600" << "" << "" << 0;
    QTest::newRow("baud of letters") << 0 << "fast" << "" << "波特率需要有效整数" << 0;
    QTest::newRow("baud of letters on ssh") << 4 << "x1" << "22" << "波特率需要有效整数" << 0;
    QTest::newRow("ssh port given") << 4 << "115200" << "2222" << "" << 2222;
    QTest::newRow("ssh port empty") << 4 << "115200" << "" << "" << 0;
    QTest::newRow("ssh port zero") << 4 << "115200" << "0" << "SSH 端口需要 1 到 65535 的整数" << 0;
    QTest::newRow("ssh port zero on serial") << 0 << "115200" << "0" << "" << 0;
}

void ConnectionSidebarTest::formReading()
{
    QFETCH(int, kind);
    QFETCH(QString, baud);
    QFETCH(QString, sshPort);
    QFETCH(QString, failure);
    QFETCH(int, readSshPort);

    child<QComboBox>(window, "protocolSelector")->setCurrentIndex(kind);
    typeInto(child<QComboBox>(window, "baudRate")->lineEdit(), baud);
    typeInto(child<QLineEdit>(window, "sshPort"), sshPort);
    typeInto(child<QLineEdit>(window, "connectionName"), QStringLiteral("  bench  "));
    QTest::mouseClick(child<QCheckBox>(window, "dtr"), Qt::LeftButton);

    Config read;
    QCOMPARE(test::errorOf([&]() { read = window->form(); }), failure);
    if (!failure.isEmpty())
        return;
    QCOMPARE(read.kind, kind == 0 ? QStringLiteral("serial") : QStringLiteral("ssh"));
    QCOMPARE(read.baudrate, baud.toInt());
    QCOMPARE(read.ssh_port, readSshPort);
    QCOMPARE(read.name, QStringLiteral("bench"));
    QVERIFY(read.dtr);

    // What the form reads, it shows again.
    read.stopbits = 1.5;
    read.parity = QStringLiteral("E");
    read.bind_port = 0;
    window->loadForm(read);
    QCOMPARE(child<QComboBox>(window, "stopBits")->currentText(), QStringLiteral("1.5"));
    QCOMPARE(window->form(), read);
}

void ConnectionSidebarTest::kindPages_data()
{
    QTest::addColumn<int>("kind");
    QTest::addColumn<int>("page");
    QTest::addColumn<bool>("remote");
    QTest::addColumn<bool>("bind");
    QTest::addColumn<QString>("status");

    const QString idle = QStringLiteral("尚未连接    选择端口开始接收");
    QTest::newRow("serial") << 0 << 0 << false << false << idle;
    QTest::newRow("tcp client") << 1 << 1 << true << false << idle;
    QTest::newRow("tcp server") << 2 << 1 << false << true << idle;
    QTest::newRow("udp") << 3 << 1 << true << true << idle;
    QTest::newRow("ssh") << 4 << 2 << false << false << QStringLiteral("尚未连接    选择 SSH 主机后建立连接");
}

void ConnectionSidebarTest::kindPages()
{
    QFETCH(int, kind);
    QFETCH(int, page);
    QFETCH(bool, remote);
    QFETCH(bool, bind);
    QFETCH(QString, status);

    child<QComboBox>(window, "protocolSelector")->setCurrentIndex(kind);
    QCOMPARE(child<QStackedWidget>(window, "parameterStack")->currentIndex(), page);
    if (page == 1) {
        QCOMPARE(child<QWidget>(window, "remoteHost")->isVisible(), remote);
        QCOMPARE(child<QWidget>(window, "bindPort")->isVisible(), bind);
    }
    auto* hint = child<QLabel>(window, "connectionHint");
    QCOMPARE(hint->isVisible(), kind == 4);
    QCOMPARE(hint->text().isEmpty(), kind != 4);
    QCOMPARE(statusText(), status);
    // The script row belongs to serial pages only.
    QCOMPARE(child<QWidget>(window, "scriptControls")->isVisible(), kind == 0);
    // An unconnected page keeps the kind the user picked.
    QCOMPARE(window->current->config.kind, QStringList({"serial", "tcp-client", "tcp-server", "udp", "ssh"})[kind]);
}

void ConnectionSidebarTest::loopbackConnectsAndCloses()
{
    typePort(QStringLiteral("loop://"));
    clickConnect();
    Channel* channel = window->current->channel;
    QVERIFY(channel);
    QCOMPARE(channel->config.port, QStringLiteral("loop://"));
    QTRY_COMPARE(stateLabel()->text(), QStringLiteral("已连接"));
    QCOMPARE(led()->state(), StatusLed::Green);
    QCOMPARE(connectButton()->text(), QStringLiteral("断开连接"));
    QVERIFY(statusText().startsWith(QStringLiteral("已连接")));
    QVERIFY(statusText().endsWith(QStringLiteral("接收 0 B    发送 0 B")));

    // The port poll keeps the loopback in the box although no device has that name.
    QSignalSpy poll(window->findChild<QTimer*>(QStringLiteral("portTimer")), &QTimer::timeout);
    QVERIFY(poll.wait(20000));
    QCOMPARE(port()->currentText(), QStringLiteral("loop://"));

    // "NULL" still stands for the page's own loopback channel: the button closes it.
    typePort(QStringLiteral("NULL"));
    QCOMPARE(stateLabel()->text(), QStringLiteral("已连接"));
    QCOMPARE(connectButton()->text(), QStringLiteral("断开连接"));
    clickConnect();
    QCOMPARE(channel->state, QStringLiteral("closed"));
    QCOMPARE(stateLabel()->text(), QStringLiteral("已断开"));
    QCOMPARE(led()->state(), StatusLed::Neutral);
    QCOMPARE(connectButton()->text(), QStringLiteral("建立连接"));

    // Opening "NULL" itself is refused with the engine's message.
    clickConnect();
    QCOMPARE(window->statusBar()->currentMessage(), QStringLiteral("操作失败：请先选择串口，NULL 表示尚未选择"));

    // Pressed again with the loopback, the same channel opens once more.
    typePort(QStringLiteral("loop://"));
    clickConnect();
    QCOMPARE(window->current->channel.data(), channel);
    QTRY_COMPARE(channel->state, QStringLiteral("connected"));
    QCOMPARE(fixture->engine.channels.size(), size_t(1));
}

void ConnectionSidebarTest::statesInSidebarAndStatusLine_data()
{
    QTest::addColumn<QString>("state");
    QTest::addColumn<QString>("text");
    QTest::addColumn<int>("lamp");
    QTest::addColumn<QString>("buttonText");
    QTest::addColumn<QString>("statusWord");

    QTest::newRow("connected") << "connected" << "已连接" << 1 << "断开连接" << "已连接";
    QTest::newRow("listening") << "listening" << "监听中" << 1 << "停止监听" << "监听中";
    QTest::newRow("connecting") << "connecting" << "连接中" << 2 << "取消连接" << "连接中";
    QTest::newRow("reconnecting") << "reconnecting" << "重连中" << 2 << "停止重连" << "等待设备恢复";
    QTest::newRow("error") << "error" << "连接异常" << 3 << "建立连接" << "连接失败";
    QTest::newRow("closed") << "closed" << "已断开" << 0 << "建立连接" << "未连接";
}

void ConnectionSidebarTest::statesInSidebarAndStatusLine()
{
    QFETCH(QString, state);
    QFETCH(QString, text);
    QFETCH(int, lamp);
    QFETCH(QString, buttonText);
    QFETCH(QString, statusWord);

    typePort(QStringLiteral("loop://"));
    clickConnect();
    Channel* channel = window->current->channel;
    QVERIFY(channel);
    channel->status(state, QStringLiteral("线路中断"));
    QTRY_COMPARE(stateLabel()->text(), text);
    QCOMPARE(int(led()->state()), lamp);
    QCOMPARE(connectButton()->text(), buttonText);
    QCOMPARE(connectButton()->accessibleDescription(), text);
    QCOMPARE(led()->accessibleName(), text);
    QVERIFY(statusText().startsWith(statusWord + QStringLiteral("    ")));

    const bool keepsError = state == QLatin1String("error") || state == QLatin1String("reconnecting");
    QCOMPARE(stateLabel()->toolTip(), keepsError ? text + QStringLiteral("\n线路中断") : text);

    const Theme& theme = window->theme;
    const QColor expected[] = {theme.line, QColor(0x2b, 0x9e, 0x53), QColor(0xc5, 0x82, 0x20),
                               QColor(0xca, 0x51, 0x3f)};
    QCOMPARE(lampColour(led()).rgb(), expected[lamp].rgb());
}

void ConnectionSidebarTest::anotherKindShowsNoState()
{
    typePort(QStringLiteral("loop://"));
    clickConnect();
    QTRY_COMPARE(stateLabel()->text(), QStringLiteral("已连接"));
    // The channel stays connected, but the form no longer shows its connection.
    child<QComboBox>(window, "protocolSelector")->setCurrentIndex(1);
    QCOMPARE(stateLabel()->text(), QStringLiteral("未连接"));
    QCOMPARE(led()->state(), StatusLed::Neutral);
    QCOMPARE(connectButton()->text(), QStringLiteral("建立连接"));
    QCOMPARE(window->current->channel->state, QStringLiteral("connected"));
    QVERIFY(statusText().startsWith(QStringLiteral("已连接")));
}

void ConnectionSidebarTest::nameFieldRenamesTheConnection()
{
    typePort(QStringLiteral("loop://"));
    clickConnect();
    Channel* channel = window->current->channel;
    QVERIFY(channel);
    const QString before = channel->name;
    typeInto(child<QLineEdit>(window, "connectionName"), QStringLiteral("   "));
    QCOMPARE(channel->name, before);
    typeInto(child<QLineEdit>(window, "connectionName"), QStringLiteral(" Loop A "));
    QCOMPARE(channel->name, QStringLiteral("Loop A"));
    QCOMPARE(channel->config.name, QStringLiteral("Loop A"));
    QCOMPARE(window->tabs()->tabText(0), QStringLiteral("Loop A"));
}

void ConnectionSidebarTest::serialPortLiveBaudAndReplug()
{
    if (QStandardPaths::findExecutable(QStringLiteral("socat")).isEmpty())
        QSKIP("socat is not installed");
    test::SocatPair pair;
    QVERIFY(pair.start());

    // A linked pty is not in the system's list, so its path is typed.
    typePort(pair.portA());
    QCOMPARE(port()->currentText(), pair.portA());
    clickConnect();
    Channel* channel = window->current->channel;
    QVERIFY(channel);
    QTRY_COMPARE(channel->state, QStringLiteral("connected"));
    QCOMPARE(stateLabel()->text(), QStringLiteral("已连接"));
    QCOMPARE(connectButton()->text(), QStringLiteral("断开连接"));
    QTRY_COMPARE(child<QLabel>(window, "serialNote")->text(), QStringLiteral("驱动已确认 115200 bps"));
    QVERIFY(statusText().contains(QStringLiteral("%1 · 115200 bps").arg(pair.portA())));

    // A new rate is applied at once and read back from the driver.
    typeInto(child<QComboBox>(window, "baudRate")->lineEdit(), QStringLiteral("9600"));
    QCOMPARE(window->statusBar()->currentMessage(), QStringLiteral("驱动已确认波特率：9600 bps"));
    QCOMPARE(channel->config.baudrate, 9600);
    QCOMPARE(channel->appliedBaudrate, 9600);
    QCOMPARE(child<QLabel>(window, "serialNote")->text(), QStringLiteral("驱动已确认 9600 bps"));

    // Letters are refused and the combo shows the channel's rate again.
    typeInto(child<QComboBox>(window, "baudRate")->lineEdit(), QStringLiteral("abc"));
    QCOMPARE(window->statusBar()->currentMessage(), QStringLiteral("操作失败：波特率需要有效整数"));
    QCOMPARE(child<QComboBox>(window, "baudRate")->currentText(), QStringLiteral("9600"));

    // Unplugged: the box keeps the path while the channel waits for the device.
    pair.stop();
    QTRY_COMPARE_WITH_TIMEOUT(channel->state, QStringLiteral("reconnecting"), 20000);
    QTRY_COMPARE(stateLabel()->text(), QStringLiteral("重连中"));
    QCOMPARE(led()->state(), StatusLed::Amber);
    QCOMPARE(connectButton()->text(), QStringLiteral("停止重连"));
    QCOMPARE(port()->currentText(), pair.portA());
    QCOMPARE(child<QLabel>(window, "serialNote")->text(), QStringLiteral("%1 已断开，等待设备恢复").arg(pair.portA()));
    QVERIFY(statusText().startsWith(QStringLiteral("等待设备恢复")));

    // Plugged in again on the same link path, the channel comes back by itself.
    QVERIFY(pair.start());
    QTRY_COMPARE_WITH_TIMEOUT(channel->state, QStringLiteral("connected"), 10000);
    QTRY_COMPARE(stateLabel()->text(), QStringLiteral("已连接"));
    QCOMPARE(led()->state(), StatusLed::Green);
    QCOMPARE(port()->currentText(), pair.portA());

    // Closing by the button ends it; the path stays while its node exists.
    clickConnect();
    QCOMPARE(channel->state, QStringLiteral("closed"));
    QCOMPARE(stateLabel()->text(), QStringLiteral("已断开"));
    QSignalSpy poll(window->findChild<QTimer*>(QStringLiteral("portTimer")), &QTimer::timeout);
    QVERIFY(poll.wait(20000));
    QCOMPARE(port()->currentText(), pair.portA());
    // Once the node is gone and no channel holds it, the typed path still
    // stays, and the sidebar says its device is missing.
    window->setFocus();
    pair.stop();
    QTRY_COMPARE_WITH_TIMEOUT(child<QLabel>(window, "portDetails")->text(),
                              QStringLiteral("设备不存在，接入后自动识别"), 20000);
    QCOMPARE(port()->currentText(), pair.portA());
}

void ConnectionSidebarTest::changedSettingsOpenASecondPage()
{
    typePort(QStringLiteral("loop://"));
    clickConnect();
    Pane* first = window->current;
    QPointer<Channel> loop = first->channel.data();
    QVERIFY(loop);

    // Other settings on a connected page open a second connection beside it.
    child<QComboBox>(window, "protocolSelector")->setCurrentIndex(2);
    auto* bind = child<QSpinBox>(window, "bindPort");
    bind->setValue(test::freeTcpPort());
    clickConnect();
    QCOMPARE(window->pages.size(), 2);
    QCOMPARE(first->channel.data(), loop.data());
    Pane* second = window->pages.at(1);
    QVERIFY(second->channel);
    QCOMPARE(second->channel->config.kind, QStringLiteral("tcp-server"));
    QCOMPARE(second->channel->config.bind_port, bind->value());
    QTRY_COMPARE(second->channel->state, QStringLiteral("listening"));
    QCOMPARE(window->current, second);
    QTRY_COMPARE(stateLabel()->text(), QStringLiteral("监听中"));
    QCOMPARE(connectButton()->text(), QStringLiteral("停止监听"));

    // Back on the first page the form shows its loopback again.
    window->tabs()->setCurrentIndex(0);
    QCOMPARE(child<QComboBox>(window, "protocolSelector")->currentIndex(), 0);
    QCOMPARE(port()->currentText(), QStringLiteral("loop://"));
    QCOMPARE(stateLabel()->text(), QStringLiteral("已连接"));
}

void ConnectionSidebarTest::controlPagesEditTheirSource()
{
    Pane* session = window->current;
    // A control page without a source: connecting binds it to the new channel
    // and keeps it selected.
    Pane* control = window->newInstrument(QStringLiteral("waveform"), nullptr, true, QString());
    QVERIFY(control);
    QCOMPARE(window->current, control);
    QCOMPARE(window->sessionPane.data(), session);
    typePort(QStringLiteral("loop://"));
    clickConnect();
    QVERIFY(session->channel);
    QCOMPARE(control->sourceKey, QStringLiteral("serial:loop://"));
    QCOMPARE(window->current, control);
    QTRY_COMPARE(stateLabel()->text(), QStringLiteral("已连接"));
    QVERIFY(child<QWidget>(window, "protocolSelector")->isEnabled());

    // A control page whose source no session page shows leaves nothing to edit.
    window->newInstrument(QStringLiteral("json"), nullptr, true, QStringLiteral("serial:/dev/ttynone"));
    QVERIFY(!window->sessionPane);
    QVERIFY(!child<QWidget>(window, "protocolSelector")->isEnabled());
    QVERIFY(!child<QWidget>(window, "connectionName")->isEnabled());
    QCOMPARE(statusText(), QStringLiteral("控件页面    等待数据来源连接"));

    // Back on the first control page, the sidebar edits its source's page again.
    window->tabs()->setCurrentIndex(paneIndex(window->tabs(), control));
    QCOMPARE(window->sessionPane.data(), session);
    QVERIFY(child<QWidget>(window, "protocolSelector")->isEnabled());
}

void ConnectionSidebarTest::aControlPageInAnotherWindowEditsItsSource()
{
    typePort(QStringLiteral("loop://"));
    clickConnect();
    Pane* session = window->current;
    Channel* channel = session->channel;
    QVERIFY(channel);

    QPointer<Window> torn = new Window(&fixture->engine, &fixture->server, fixture->path, window);
    torn->show();
    QVERIFY(QTest::qWaitForWindowExposed(torn));
    // Its own empty session page is what its sidebar edits at first.
    QVERIFY(torn->sessionPane);
    QVERIFY(torn->sessionPane != session);
    QCOMPARE(child<QComboBox>(torn, "serialPort")->currentText(), QStringLiteral("NULL"));

    Pane* control = torn->newInstrument(QStringLiteral("waveform"), channel, true, QString());
    QVERIFY(control);
    QCOMPARE(torn->sessionPane.data(), session);
    QCOMPARE(child<QComboBox>(torn, "serialPort")->currentText(), QStringLiteral("loop://"));
    QTRY_COMPARE(child<QLabel>(torn, "connectionState")->text(), QStringLiteral("已连接"));
    torn->close();
}

void ConnectionSidebarTest::theFormIsSavedAsTheConnection()
{
    window->saveSettings();
    QCOMPARE(fixture->fileObject().value("connection").toObject(), Config().json());

    child<QComboBox>(window, "protocolSelector")->setCurrentIndex(1);
    typeInto(child<QLineEdit>(window, "remoteHost"), QStringLiteral(" 127.0.0.2 "));
    window->saveSettings();
    const Config saved = Config::fromJson(fixture->fileObject().value("connection").toObject());
    QCOMPARE(saved.kind, QStringLiteral("tcp-client"));
    QCOMPARE(saved.host, QStringLiteral("127.0.0.2"));
}

void ConnectionSidebarTest::liveChangesNeedTheSamePort()
{
    typePort(QStringLiteral("loop://"));
    clickConnect();
    Channel* channel = window->current->channel;
    QVERIFY(channel);
    auto* baud = child<QComboBox>(window, "baudRate");

    // The loopback takes a new rate as it is.
    typeInto(baud->lineEdit(), QStringLiteral("57600"));
    QCOMPARE(channel->config.baudrate, 57600);
    QCOMPARE(window->statusBar()->currentMessage(), QStringLiteral("驱动已确认波特率：57600 bps"));

    // With another port in the box the rate waits for the next connect.
    window->statusBar()->clearMessage();
    typePort(QStringLiteral("/dev/null"));
    typeInto(baud->lineEdit(), QStringLiteral("9600"));
    QCOMPARE(channel->config.baudrate, 57600);
    QCOMPARE(window->statusBar()->currentMessage(), QString());
}

void ConnectionSidebarTest::aDemoKindLeavesTheSelector()
{
    auto* selector = child<QComboBox>(window, "protocolSelector");
    selector->setCurrentIndex(3);
    window->loadForm(Config::waveformDemo());
    QCOMPARE(selector->currentIndex(), 3);
}

void ConnectionSidebarTest::scriptToggleAppliesThePagesScript()
{
    typePort(QStringLiteral("loop://"));
    clickConnect();
    Pane* page = window->current;
    Channel* channel = page->channel;
    QVERIFY(channel);
    auto* toggle = child<QCheckBox>(window, "scriptToggle");
    QVERIFY(toggle->isVisible());
    QVERIFY(toggle->isEnabled());

    QTest::mouseClick(toggle, Qt::LeftButton);
    QVERIFY(channel->scriptEnabled);
    QVERIFY(toggle->isChecked());
    QVERIFY(child<QLabel>(window, "scriptHint")->isHidden());

    // A script that does not compile is refused and the toggle goes back.
    QTest::mouseClick(toggle, Qt::LeftButton);
    QVERIFY(!channel->scriptEnabled);
    page->scriptCode = QStringLiteral("void main(const uint8_t data[], int length) { nonsense( }");
    QTest::mouseClick(toggle, Qt::LeftButton);
    QVERIFY(!toggle->isChecked());
    QVERIFY(!channel->scriptEnabled);
    QVERIFY(window->statusBar()->currentMessage().startsWith(QStringLiteral("操作失败：")));
}

QTEST_MAIN(ConnectionSidebarTest)
#include "ConnectionSidebarTest.moc"
