#include "ui/window/ConnectionForm.h"

#include "ui/kit/Combo.h"
#include "ui/kit/Factories.h"
#include "ui/kit/IconButton.h"
#include "ui/kit/StatusLed.h"
#include "ui/window/AdaptiveStack.h"
#include "ui/window/PortDelegate.h"

#include <QAbstractItemView>
#include <QCheckBox>
#include <QEvent>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QIntValidator>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSpinBox>
#include <QVBoxLayout>

namespace vn {

namespace {

// The style sheet gives every combo box a minimum height of its own each
// time it is polished; the port and baud boxes keep their 40 pixels.
class KeepHeight : public QObject {
public:
    KeepHeight(QWidget* widget, int height)
        : QObject(widget)
        , pixels(height)
    {
        widget->setFixedHeight(height);
        widget->installEventFilter(this);
    }

    bool eventFilter(QObject* watched, QEvent* event) override
    {
        if (event->type() == QEvent::Polish || event->type() == QEvent::StyleChange)
            static_cast<QWidget*>(watched)->setFixedHeight(pixels);
        return false;
    }

private:
    int pixels;
};

QLabel* caption(const QString& text)
{
    return label(text, QStringLiteral("muted"));
}

// A label the window fills later: muted, wrapped, hidden until it has text.
QLabel* note(const QString& objectName)
{
    auto* hint = new QLabel;
    hint->setObjectName(objectName);
    hint->setWordWrap(true);
    hint->setTextFormat(Qt::PlainText);
    hint->setForegroundRole(QPalette::PlaceholderText);
    hint->hide();
    return hint;
}

QVBoxLayout* pageLayout(QWidget* page)
{
    auto* layout = new QVBoxLayout(page);
    layout->setContentsMargins(0, 4, 0, 0);
    layout->setSpacing(8);
    return layout;
}

// Marks an entry that a loaded value brought along because the list lacks it.
constexpr int LoadedOnlyRole = Qt::UserRole + 1;

// Shows `text` in a fixed-choice box. A value the list does not offer (from a
// hand-edited file) becomes an entry of its own, so the box never goes on
// showing what it held before, perhaps another page's value, and a save
// writes back what was loaded; connecting then names the bad setting. That
// entry goes with the next load. An empty value shows `fallback`.
void showChoice(Combo* box, const QString& text, const QString& fallback)
{
    for (int index = box->count() - 1; index >= 0; --index) {
        if (box->itemData(index, LoadedOnlyRole).toBool())
            box->removeItem(index);
    }
    const QString shown = text.isEmpty() ? fallback : text;
    int index = box->findText(shown, Qt::MatchFixedString | Qt::MatchCaseSensitive);
    if (index < 0) {
        box->addItem(shown);
        index = box->count() - 1;
        box->setItemData(index, true, LoadedOnlyRole);
    }
    box->setCurrentIndex(index);
}

Combo* choice(const QStringList& items, const QString& current, const QString& objectName, int characters)
{
    Combo* box = combo(items, current, false);
    box->setObjectName(objectName);
    box->setMinimumContentsLength(characters);
    return box;
}

QLineEdit* field(const QString& text, const QString& objectName)
{
    auto* edit = new QLineEdit(text);
    edit->setObjectName(objectName);
    return edit;
}

QSpinBox* portBox(int minimum, int value, const QString& objectName)
{
    auto* box = new QSpinBox;
    box->setObjectName(objectName);
    box->setRange(minimum, 65535);
    box->setValue(value);
    return box;
}

} // namespace

ConnectionForm::ConnectionForm(Window* window, QWidget* sidebar, QVBoxLayout* layout)
    : QObject(sidebar)
{
    setObjectName(QStringLiteral("connectionForm"));
    buildBrand(layout);
    layout->addWidget(label(QStringLiteral("连接参数"), QStringLiteral("section")));

    protocol = new ProtocolCombo;
    layout->addWidget(protocol);

    stack = new AdaptiveStack;
    stack->setObjectName(QStringLiteral("parameterStack"));
    stack->setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Maximum);
    stack->addWidget(buildSerialPage(window));
    stack->addWidget(buildNetworkPage());
    stack->addWidget(buildSshPage());
    layout->addWidget(stack);

    layout->addWidget(caption(QStringLiteral("连接名称")));
    name = field(QString(), QStringLiteral("connectionName"));
    name->setPlaceholderText(QStringLiteral("可选 · 使用端口或主机名"));
    layout->addWidget(name);

    auto* stateRow = new QHBoxLayout;
    stateRow->setSpacing(5);
    led = new StatusLed;
    led->setObjectName(QStringLiteral("connectionLed"));
    stateRow->addWidget(led);
    state = new QLabel(QStringLiteral("未连接"));
    state->setObjectName(QStringLiteral("connectionState"));
    stateRow->addWidget(state, 1);
    layout->addLayout(stateRow);

    connectButton = button(QStringLiteral("建立连接"), QStringLiteral("primary"));
    connectButton->setMinimumHeight(40);
    layout->addWidget(connectButton);

    scriptControls = new QWidget;
    scriptControls->setObjectName(QStringLiteral("scriptControls"));
    auto* scriptRow = horizontal(scriptControls);
    scriptToggle = new QCheckBox(QStringLiteral("脚本解析"));
    scriptToggle->setObjectName(QStringLiteral("scriptToggle"));
    scriptToggle->setToolTip(QStringLiteral("将新收到的字节交给当前连接的 main(data, length)"));
    scriptRow->addWidget(scriptToggle, 1);
    scriptEdit = new IconButton(QStringLiteral("code"), QStringLiteral("编辑解析脚本与 HEX 试解析"), scriptControls);
    scriptEdit->setObjectName(QStringLiteral("scriptEdit"));
    scriptRow->addWidget(scriptEdit);
    layout->addWidget(scriptControls);
    scriptHint = note(QStringLiteral("scriptHint"));
    layout->addWidget(scriptHint);

    layout->addStretch();
    connectionHint = note(QStringLiteral("connectionHint"));
    layout->addWidget(connectionHint);
}

void ConnectionForm::buildBrand(QVBoxLayout* layout)
{
    auto* brand = new QWidget;
    brand->setObjectName(QStringLiteral("pixelBrand"));
    brand->setAttribute(Qt::WA_StyledBackground);
    auto* column = new QVBoxLayout(brand);
    column->setContentsMargins(14, 14, 14, 12);
    column->setSpacing(10);
    column->addWidget(label(QStringLiteral("Varnelle"), QStringLiteral("brandTitle")));
    column->addWidget(label(QStringLiteral("串口 / 网络 / SSH"), QStringLiteral("brandSubtitle")));
    layout->addWidget(brand);
    layout->addSpacing(4);
}

QWidget* ConnectionForm::buildSerialPage(Window* window)
{
    auto* page = new QWidget;
    page->setObjectName(QStringLiteral("serialPage"));
    QVBoxLayout* column = pageLayout(page);

    column->addWidget(caption(QStringLiteral("端口")));
    port = combo({QStringLiteral("NULL")}, QStringLiteral("NULL"), true);
    port->setObjectName(QStringLiteral("serialPort"));
    port->setInsertPolicy(QComboBox::NoInsert);
    port->setCompleter(nullptr);
    new KeepHeight(port, 40);
    port->setItemDelegate(new PortDelegate(window, port));
    port->view()->setMinimumWidth(430);
    // Qt lists neither pseudo terminals nor symlinked device paths, so a path
    // can be typed here; the box still never adds what was typed to its list.
    port->lineEdit()->setCursor(Qt::ArrowCursor);
    port->lineEdit()->setAttribute(Qt::WA_InputMethodEnabled, false);
    column->addWidget(port);

    portDetails = note(QStringLiteral("portDetails"));
    portDetails->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
    column->addWidget(portDetails);

    column->addSpacing(7);
    column->addWidget(caption(QStringLiteral("波特率")));
    baud = combo({QStringLiteral("1200"), QStringLiteral("2400"), QStringLiteral("4800"), QStringLiteral("9600"),
                  QStringLiteral("19200"), QStringLiteral("38400"), QStringLiteral("57600"),
                  QStringLiteral("115200"), QStringLiteral("230400"), QStringLiteral("460800"),
                  QStringLiteral("921600"), QStringLiteral("1000000"), QStringLiteral("2000000")},
                 QStringLiteral("115200"), true);
    baud->setObjectName(QStringLiteral("baudRate"));
    baud->setInsertPolicy(QComboBox::NoInsert);
    new KeepHeight(baud, 40);
    baud->setToolTip(QStringLiteral("连接后选择新值会立即应用，并回读串口驱动确认"));
    column->addWidget(baud);

    column->addSpacing(6);
    auto* grid = new QGridLayout;
    grid->setColumnStretch(0, 2);
    grid->setColumnStretch(1, 3);
    grid->setHorizontalSpacing(8);
    grid->setVerticalSpacing(7);
    grid->addWidget(caption(QStringLiteral("数据位")), 0, 0);
    grid->addWidget(caption(QStringLiteral("校验")), 0, 1);
    dataBits = choice({QStringLiteral("5"), QStringLiteral("6"), QStringLiteral("7"), QStringLiteral("8")},
                      QStringLiteral("8"), QStringLiteral("dataBits"), 1);
    grid->addWidget(dataBits, 1, 0);
    parity = choice({QStringLiteral("N"), QStringLiteral("E"), QStringLiteral("O"), QStringLiteral("M"),
                     QStringLiteral("S")},
                    QStringLiteral("N"), QStringLiteral("parity"), 1);
    parity->setToolTip(QStringLiteral("N: None · 无校验\nE: Even · 偶校验\nO: Odd · 奇校验\nM: Mark\nS: Space"));
    grid->addWidget(parity, 1, 1);
    grid->addWidget(caption(QStringLiteral("停止位")), 2, 0, 1, 2);
    stopBits = choice({QStringLiteral("1"), QStringLiteral("1.5"), QStringLiteral("2")}, QStringLiteral("1"),
                      QStringLiteral("stopBits"), 3);
    grid->addWidget(stopBits, 3, 0, 1, 2);
    grid->addWidget(caption(QStringLiteral("流控")), 4, 0, 1, 2);
    flow = choice({QStringLiteral("none"), QStringLiteral("rtscts"), QStringLiteral("xonxoff")},
                  QStringLiteral("none"), QStringLiteral("flowControl"), 7);
    flow->setMinimumWidth(flow->fontMetrics().horizontalAdvance(QStringLiteral("xonxoff")) + 48);
    flow->setToolTip(QStringLiteral("none: 无流控\nrtscts: 硬件流控\nxonxoff: 软件流控"));
    grid->addWidget(flow, 5, 0, 1, 2);
    column->addLayout(grid);

    auto* lines = horizontal(nullptr);
    dtr = new QCheckBox(QStringLiteral("DTR"));
    dtr->setObjectName(QStringLiteral("dtr"));
    rts = new QCheckBox(QStringLiteral("RTS"));
    rts->setObjectName(QStringLiteral("rts"));
    lines->addWidget(dtr);
    lines->addWidget(rts);
    lines->addStretch();
    column->addLayout(lines);

    serialNote = note(QStringLiteral("serialNote"));
    column->addWidget(serialNote);
    return page;
}

QWidget* ConnectionForm::buildNetworkPage()
{
    auto* page = new QWidget;
    page->setObjectName(QStringLiteral("networkPage"));
    QVBoxLayout* column = pageLayout(page);
    remoteCaption = caption(QStringLiteral("远端地址 / 端口"));
    column->addWidget(remoteCaption);
    remoteHost = field(QStringLiteral("127.0.0.1"), QStringLiteral("remoteHost"));
    column->addWidget(remoteHost);
    remotePort = portBox(1, 9000, QStringLiteral("remotePort"));
    column->addWidget(remotePort);
    bindCaption = caption(QStringLiteral("本地绑定 / 端口"));
    column->addWidget(bindCaption);
    bindHost = field(QStringLiteral("127.0.0.1"), QStringLiteral("bindHost"));
    column->addWidget(bindHost);
    // 0 lets the system choose the local port, which a saved connection may hold.
    bindPort = portBox(0, 9001, QStringLiteral("bindPort"));
    column->addWidget(bindPort);
    return page;
}

QWidget* ConnectionForm::buildSshPage()
{
    auto* page = new QWidget;
    page->setObjectName(QStringLiteral("sshPage"));
    QVBoxLayout* column = pageLayout(page);
    column->addWidget(caption(QStringLiteral("主机别名或地址")));
    sshHost = combo({}, QString(), true);
    sshHost->setObjectName(QStringLiteral("sshHost"));
    sshHost->setInsertPolicy(QComboBox::NoInsert);
    sshHost->lineEdit()->setPlaceholderText(QStringLiteral("选择配置或输入地址"));
    sshHost->view()->setMinimumWidth(320);
    sshHost->setToolTip(QStringLiteral("选择或输入 SSH 主机"));
    column->addWidget(sshHost);

    const QString fromConfig = QStringLiteral("留空时使用 ~/.ssh/config 中的设置");
    column->addWidget(caption(QStringLiteral("用户名（可选）")));
    sshUser = field(QString(), QStringLiteral("sshUser"));
    sshUser->setPlaceholderText(QStringLiteral("User"));
    sshUser->setToolTip(fromConfig);
    column->addWidget(sshUser);
    column->addWidget(caption(QStringLiteral("端口（可选）")));
    sshPort = field(QString(), QStringLiteral("sshPort"));
    sshPort->setPlaceholderText(QStringLiteral("Port / 22"));
    sshPort->setValidator(new QIntValidator(1, 65535, sshPort));
    sshPort->setToolTip(fromConfig);
    column->addWidget(sshPort);
    column->addWidget(caption(QStringLiteral("私钥文件（可选）")));
    sshIdentity = field(QString(), QStringLiteral("sshIdentity"));
    sshIdentity->setPlaceholderText(QStringLiteral("IdentityFile"));
    sshIdentity->setToolTip(fromConfig);
    column->addWidget(sshIdentity);

    sshClearCache = button(QStringLiteral("清除 SSH 缓存"), QStringLiteral("outline"));
    sshClearCache->setObjectName(QStringLiteral("sshClearCache"));
    sshClearCache->setToolTip(QStringLiteral("清除当前主机保存的密码及指纹记录，重新进行连接认证"));
    sshClearCache->setEnabled(false);
    column->addWidget(sshClearCache);
    return page;
}

const QStringList& ConnectionForm::kinds()
{
    static const QStringList list{QStringLiteral("serial"), QStringLiteral("tcp-client"),
                                  QStringLiteral("tcp-server"), QStringLiteral("udp"), QStringLiteral("ssh")};
    return list;
}

int ConnectionForm::kindIndex(const QString& kind)
{
    return int(kinds().indexOf(kind));
}

Config ConnectionForm::read() const
{
    Config config;
    const int index = protocol->currentIndex();
    config.kind = kinds().value(index, config.kind);
    config.name = name->text().trimmed();
    config.port = port->currentText().trimmed();
    bool number = false;
    config.baudrate = baud->currentText().trimmed().toInt(&number);
    if (!number)
        fail(QStringLiteral("波特率需要有效整数"));
    config.bytesize = dataBits->currentText().toInt();
    config.parity = parity->currentText();
    config.stopbits = stopBits->currentText().toDouble();
    config.flow = flow->currentText();
    config.dtr = dtr->isChecked();
    config.rts = rts->isChecked();
    config.host = remoteHost->text().trimmed();
    config.network_port = remotePort->value();
    config.bind_host = bindHost->text().trimmed();
    config.bind_port = bindPort->value();
    config.ssh_host = sshHost->currentText().trimmed();
    config.ssh_user = sshUser->text().trimmed();
    const QString sshPortText = sshPort->text().trimmed();
    const int sshPortValue = sshPortText.toInt(&number);
    config.ssh_port = sshPortText.isEmpty() || !number ? 0 : sshPortValue;
    if (config.kind == QLatin1String("ssh") && !sshPortText.isEmpty()
        && (!number || sshPortValue < 1 || sshPortValue > 65535))
        fail(QStringLiteral("SSH 端口需要 1 到 65535 的整数"));
    config.ssh_identity = sshIdentity->text().trimmed();
    return config;
}

void ConnectionForm::write(const Config& config)
{
    name->setText(config.name);
    baud->setCurrentText(QString::number(config.baudrate));
    const Config defaults;
    showChoice(dataBits, QString::number(config.bytesize), QString::number(defaults.bytesize));
    showChoice(parity, config.parity, defaults.parity);
    showChoice(stopBits, QString::number(config.stopbits, 'g', 6), QString::number(defaults.stopbits, 'g', 6));
    showChoice(flow, config.flow, defaults.flow);
    dtr->setChecked(config.dtr);
    rts->setChecked(config.rts);
    remoteHost->setText(config.host);
    remotePort->setValue(config.network_port);
    bindHost->setText(config.bind_host);
    bindPort->setValue(config.bind_port);
    sshHost->setEditText(config.ssh_host);
    sshHost->lineEdit()->setCursorPosition(0);
    sshHost->setToolTip(config.ssh_host.isEmpty() ? QStringLiteral("选择或输入 SSH 主机") : config.ssh_host);
    sshUser->setText(config.ssh_user);
    sshPort->setText(config.ssh_port == 0 ? QString() : QString::number(config.ssh_port));
    sshIdentity->setText(config.ssh_identity);
}

} // namespace vn
