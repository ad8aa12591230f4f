#include "ui/window/McpSettingsPage.h"

#include "core/Engine.h"
#include "mcp/McpServer.h"
#include "ui/agents/AgentPanel.h"
#include "ui/kit/DetachableTabs.h"
#include "ui/kit/Factories.h"
#include "ui/window/Window.h"

#include <QApplication>
#include <QCheckBox>
#include <QClipboard>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QJsonObject>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QScrollArea>
#include <QSignalBlocker>
#include <QSpinBox>
#include <QTreeWidget>
#include <QVBoxLayout>

namespace vn {

namespace {

QLabel* mutedNote(const QString& text)
{
    QLabel* note = label(text, QStringLiteral("muted"));
    note->setWordWrap(true);
    return note;
}

QTreeWidget* table(const QString& objectName, const QStringList& header, const QList<int>& widths)
{
    auto* tree = new QTreeWidget;
    tree->setObjectName(objectName);
    tree->setRootIsDecorated(false);
    tree->setHeaderLabels(header);
    for (int column = 0; column < widths.size(); ++column)
        tree->setColumnWidth(column, widths.at(column));
    return tree;
}

} // namespace

McpSettingsPage::McpSettingsPage(Window* owner, QWidget* parent)
    : QWidget(parent)
    , window(owner)
    , server(owner->server)
{
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(16, 16, 16, 8);

    layout->addWidget(buildPortRows());

    auto* control = new QCheckBox(QStringLiteral("允许 AI 发送报文、控制连接和应用脚本"));
    control->setObjectName(QStringLiteral("allowAiControl"));
    control->setChecked(owner->engine->allowAiControl);
    connect(control, &QCheckBox::toggled, this, [this](bool on) {
        window->engine->allowAiControl = on;
        window->saveSettings();
    });
    layout->addWidget(control);

    layout->addWidget(buildAccessRow());
    layout->addWidget(mutedNote(
        QStringLiteral("关闭后，AI 无法查看该协议的连接、历史和解析结果，也无法操作连接。本地连接不受影响。")));

    mcpPages = new DetachableTabs;
    mcpPages->setObjectName(QStringLiteral("mcpPages"));
    mcpPages->setMinimumHeight(160);
    mcpPages->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Expanding);
    mcpPages->addTab(buildOverview(), QStringLiteral("连接总览"));

    // The agents page looks at the machine the way the root window does.
    Window* top = owner->rootWindow();
    AgentPanel::EnvironmentProvider environment = top->agentEnvironment;
    if (!environment)
        environment = &AgentEnvironment::current;
    agents = new AgentPanel(server, environment, owner->theme);
    connect(agents, &AgentPanel::configurationUpdated, top, &Window::checkAgentEndpoints);
    mcpPages->addTab(scrollPanel(agents, QStringLiteral("clientsScroll")), QStringLiteral("Agent 接入"));

    const int logTab = mcpPages->addTab(buildCallLog(), QStringLiteral("调用日志"));
    mcpPages->setTabToolTip(logTab, QStringLiteral("双击一行查看调用的参数、返回与错误详情"));
    mcpPages->setCurrentIndex(1);
    layout->addWidget(mcpPages, 1);

    connect(server, &McpServer::portChanged, this, [this](quint16 listening) {
        address->setText(server->url());
        port->setValue(listening);
        agents->refresh();
    });
    connect(server, &McpServer::protocolAccessChanged, this, &McpSettingsPage::showAccess);
}

void McpSettingsPage::setTheme(const Theme& theme)
{
    agents->setTheme(theme);
}

QWidget* McpSettingsPage::buildPortRows()
{
    auto* rows = new QWidget;
    auto* layout = new QVBoxLayout(rows);
    layout->setContentsMargins(0, 0, 0, 0);

    auto* portRow = horizontal(nullptr);
    portRow->addWidget(new QLabel(QStringLiteral("监听端口")));
    port = new QSpinBox;
    port->setObjectName(QStringLiteral("mcpPort"));
    port->setRange(1, 65535);
    port->setFixedWidth(120);
    // While the server is down the box offers the port this window's workspace asked for.
    port->setValue(server->isListening() ? int(server->serverPort())
                                         : window->settings.value(QStringLiteral("mcp_port")).toInt(8765));
    portRow->addWidget(port);
    QPushButton* apply = button(QStringLiteral("应用端口"), QStringLiteral("outline"));
    apply->setObjectName(QStringLiteral("applyMcpPort"));
    apply->setToolTip(QStringLiteral("应用并保存端口，然后使用一键更新同步 Agent 地址"));
    portRow->addWidget(apply);
    QPushButton* available = button(QStringLiteral("自动选空闲"), QStringLiteral("outline"));
    available->setObjectName(QStringLiteral("availableMcpPort"));
    available->setToolTip(QStringLiteral("立即切换到系统分配的空闲端口，再使用一键更新同步 Agent 地址"));
    portRow->addWidget(available);
    portRow->addStretch();
    layout->addLayout(portRow);

    auto* addressRow = horizontal(nullptr);
    address = new QLineEdit(server->url());
    address->setObjectName(QStringLiteral("mcpAddress"));
    address->setReadOnly(true);
    addressRow->addWidget(address, 1);
    QPushButton* copy = button(QStringLiteral("复制地址"), QStringLiteral("outline"));
    copy->setObjectName(QStringLiteral("copyMcpAddress"));
    addressRow->addWidget(copy);
    layout->addLayout(addressRow);

    layout->addWidget(mutedNote(QStringLiteral("只为本账户的程序服务，其他本地账户的连接一律拒绝。")));

    result = label(QStringLiteral("修改端口后，点击「一键更新已安装 Agent」同步接入地址。"), QStringLiteral("mcpPortResult"));
    result->setWordWrap(true);
    // The server's error text names the system's reason; never read it as markup.
    result->setTextFormat(Qt::PlainText);
    result->hide();
    layout->addWidget(result);

    connect(apply, &QPushButton::clicked, this, [this]() { applyPort(port->value()); });
    connect(available, &QPushButton::clicked, this, [this]() { applyPort(0); });
    connect(copy, &QPushButton::clicked, this, [this]() { QApplication::clipboard()->setText(server->url()); });
    return rows;
}

QWidget* McpSettingsPage::buildAccessRow()
{
    auto* row = new QWidget;
    auto* layout = horizontal(row);
    layout->addWidget(new QLabel(QStringLiteral("向 AI 开放")));
    const std::pair<const char*, QString> protocols[] = {
        {"serial", QStringLiteral("串口")},
        {"tcp", QStringLiteral("TCP")},
        {"udp", QStringLiteral("UDP")},
        {"ssh", QStringLiteral("SSH")},
    };
    for (const auto& [name, text] : protocols) {
        const QString protocol = QString::fromLatin1(name);
        auto* box = new QCheckBox(text);
        box->setObjectName(QStringLiteral("mcpAccess_") + protocol);
        box->setToolTip(protocol == QLatin1String("tcp") ? QStringLiteral("允许 AI 读取和访问 TCP 客户端、服务端会话")
                                                         : QStringLiteral("允许 AI 读取和访问此协议的会话"));
        box->setChecked(server->protocolEnabled(protocol));
        connect(box, &QCheckBox::toggled, this, [this, protocol](bool on) {
            server->setProtocolEnabled(protocol, on);
            window->saveSettings();
        });
        access.insert(protocol, box);
        layout->addWidget(box);
    }
    layout->addStretch();
    return row;
}

void McpSettingsPage::showAccess()
{
    // A change made elsewhere (another window's dialog, a test) is only shown:
    // the boxes' own handling must not write it again.
    for (auto it = access.constBegin(); it != access.constEnd(); ++it) {
        const QSignalBlocker quiet(it.value());
        it.value()->setChecked(server->protocolEnabled(it.key()));
    }
}

QWidget* McpSettingsPage::buildOverview()
{
    auto* page = new QWidget;
    auto* layout = new QVBoxLayout(page);
    layout->addWidget(mutedNote(QStringLiteral("界面与 AI 共享同一连接，各自读取，不会消耗对方的数据。")));
    layout->addWidget(table(QStringLiteral("connectionsOverview"),
                            {QStringLiteral("连接"), QStringLiteral("协议"), QStringLiteral("状态"),
                             QStringLiteral("连接 ID"), QStringLiteral("RX / TX")},
                            {160, 110, 140}),
                      1);
    return page;
}

QWidget* McpSettingsPage::buildCallLog()
{
    QTreeWidget* log = table(QStringLiteral("callLog"),
                             {QStringLiteral("时间"), QStringLiteral("客户端"), QStringLiteral("调用"),
                              QStringLiteral("结果"), QStringLiteral("耗时 ms"), QStringLiteral("错误")},
                             {115, 150, 220, 70, 80});
    log->header()->setStretchLastSection(true);
    log->setToolTip(QStringLiteral("双击一行查看参数、返回与错误详情"));
    connect(log, &QTreeWidget::itemDoubleClicked, this, [this](QTreeWidgetItem* item) {
        window->showAuditDetail(item->data(0, Qt::UserRole).toJsonObject());
    });
    return log;
}

void McpSettingsPage::applyPort(int wanted)
{
    result->show();
    if (!server->changePort(quint16(wanted))) {
        result->setText(server->lastError);
        return;
    }
    port->setValue(server->serverPort());
    address->setText(server->url());
    result->setText(QStringLiteral(
        "端口已生效并保存。点击「一键更新已安装 Agent」同步配置；串口连接与数据继续保留。"));
    agents->refresh();
    window->saveSettings();
    window->updateStatus();
}

} // namespace vn
