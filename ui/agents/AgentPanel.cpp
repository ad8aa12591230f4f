#include "ui/agents/AgentPanel.h"

#include "mcp/McpServer.h"
#include "ui/agents/AgentLogo.h"
#include "ui/agents/AgentSkill.h"
#include "ui/agents/BuiltinGuides.h"
#include "ui/kit/Factories.h"

#include <QCheckBox>
#include <QDialog>
#include <QDir>
#include <QFrame>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QJsonArray>
#include <QJsonObject>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

#include <exception>
#include <memory>

namespace vn {

namespace {

QString messageOf(const std::exception& error)
{
    return QString::fromUtf8(error.what());
}

// Texts that come from agent files, the file system or the network are shown
// as they are, never read as markup.
QLabel* plainLabel(const QString& text, const QString& objectName = {})
{
    auto* label = new QLabel(text);
    label->setTextFormat(Qt::PlainText);
    if (!objectName.isEmpty())
        label->setObjectName(objectName);
    return label;
}

QLabel* wrappedLabel(const QString& text, const QString& objectName = {})
{
    QLabel* label = plainLabel(text, objectName);
    label->setWordWrap(true);
    label->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
    return label;
}

QPushButton* outlineButton(const QString& text, const QString& objectName)
{
    QPushButton* button = vn::button(text, QStringLiteral("outline"));
    button->setObjectName(objectName);
    return button;
}

} // namespace

AgentPanel::AgentPanel(McpServer* mcpServer, EnvironmentProvider provider, const Theme& theme, QWidget* parent)
    : QWidget(parent), environment(std::move(provider)), server(mcpServer)
{
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(12, 12, 12, 12);
    layout->setSpacing(12);

    auto* header = new QHBoxLayout;
    scanButton = outlineButton(QStringLiteral("重新检测"), QStringLiteral("agentScan"));
    updateAllButton = outlineButton(QStringLiteral("一键更新已安装 Agent"), QStringLiteral("updateAllAgents"));
    QPushButton* skillButton = outlineButton(QStringLiteral("配置 skill"), QStringLiteral("configureAgentSkills"));
    header->addWidget(scanButton);
    header->addWidget(updateAllButton);
    header->addWidget(skillButton);
    header->addStretch();
    layout->addLayout(header);

    summaryLabel = wrappedLabel(QString(), QStringLiteral("muted"));
    summaryLabel->hide();
    layout->addWidget(summaryLabel);

    auto* gridHost = new QWidget;
    gridHost->setObjectName(QStringLiteral("agentGrid"));
    auto* grid = new QGridLayout(gridHost);
    grid->setContentsMargins(0, 0, 0, 0);
    grid->setHorizontalSpacing(12);
    grid->setVerticalSpacing(12);
    grid->setColumnStretch(0, 1);
    grid->setColumnStretch(1, 1);
    layout->addWidget(gridHost);

    clients = AgentConfig::discover(environment());
    for (int i = 0; i < clients.size(); ++i)
        buildCard(i, grid, theme);

    layout->addWidget(wrappedLabel(QStringLiteral("配置前备份原文件，保留其他 MCP 服务。更新后请在 Agent 中重载；Pi 使用 "
                                                  "/reload。检测范围：本机程序与 CLI。"),
                                   QStringLiteral("muted")));
    layout->addStretch();

    connect(scanButton, &QPushButton::clicked, this, &AgentPanel::refresh);
    connect(updateAllButton, &QPushButton::clicked, this, &AgentPanel::configureAll);
    connect(skillButton, &QPushButton::clicked, this, &AgentPanel::configureSkills);
    if (server)
        connect(server, &McpServer::portChanged, this, &AgentPanel::refresh);
    refresh();
}

void AgentPanel::buildCard(int index, QGridLayout* grid, const Theme& theme)
{
    const AgentClient& client = clients[index];
    auto* frame = new QFrame;
    frame->setObjectName(QStringLiteral("agentCard"));
    frame->setProperty("agentId", client.id);
    frame->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
    auto* layout = new QVBoxLayout(frame);
    layout->setContentsMargins(12, 12, 12, 12);
    layout->setSpacing(8);

    auto* top = new QHBoxLayout;
    auto* logo = new AgentLogo(client.icon, theme);
    logo->setObjectName(QStringLiteral("agentLogo"));
    logo->setFixedSize(34, 34);
    logo->setAlignment(Qt::AlignCenter);
    logos << logo;
    top->addWidget(logo);
    top->addWidget(wrappedLabel(client.name, QStringLiteral("agentTitle")), 1);
    layout->addLayout(top);

    Card card;
    card.stateLabel = plainLabel(QString(), QStringLiteral("muted"));
    card.stateLabel->setWordWrap(true);
    layout->addWidget(card.stateLabel);

    auto* buttons = new QHBoxLayout;
    card.configureButton = outlineButton(QStringLiteral("配置"), QStringLiteral("configure_") + client.id);
    card.checkButton = outlineButton(QStringLiteral("检查"), QStringLiteral("check_") + client.id);
    card.configureButton->setAutoDefault(false);
    card.checkButton->setAutoDefault(false);
    buttons->addWidget(card.configureButton);
    buttons->addWidget(card.checkButton);
    buttons->addStretch();
    layout->addLayout(buttons);

    card.detailLabel = wrappedLabel(QString());
    card.detailLabel->hide();
    layout->addWidget(card.detailLabel);

    grid->addWidget(frame, index / 2, index % 2);
    connect(card.configureButton, &QPushButton::clicked, this, [this, index] { checkAgent(index, true); });
    connect(card.checkButton, &QPushButton::clicked, this, [this, index] { checkAgent(index, false); });
    cards << card;
}

void AgentPanel::setTheme(const Theme& theme)
{
    for (AgentLogo* logo : std::as_const(logos))
        logo->setTheme(theme);
}

bool AgentPanel::listening() const
{
    return server && server->isListening();
}

QString AgentPanel::url() const
{
    return server ? server->url() : QString();
}

void AgentPanel::refresh()
{
    if (busy)
        return;
    clients = AgentConfig::discover(environment());
    const bool serving = listening();
    int installed = 0;
    // Discovery always yields the same tools in the same order, card i for client i.
    for (int i = 0; i < clients.size() && i < cards.size(); ++i) {
        const AgentClient& client = clients[i];
        const Card& card = cards[i];
        const bool present = !client.executable.isEmpty();
        installed += present ? 1 : 0;
        card.stateLabel->setText(present ? QStringLiteral("已安装") : QStringLiteral("未检测到安装"));
        card.stateLabel->setToolTip(present ? client.executable : QString());
        card.configureButton->setEnabled(present && serving);
        card.configureButton->setToolTip(present ? QStringLiteral("保存并检查：") + client.configPath
                                                 : QStringLiteral("安装后重新检测"));
        card.checkButton->setEnabled(present && serving);
        card.checkButton->setToolTip(present ? QStringLiteral("只读检查配置与 MCP 服务")
                                             : QStringLiteral("安装后才可检查配置"));
        if (!present) {
            card.detailLabel->hide();
            continue;
        }
        card.detailLabel->show();
        try {
            card.detailLabel->setText(AgentConfig::check(client, url(), stdioBridgePath()));
        } catch (const std::exception& error) {
            card.detailLabel->setText(QStringLiteral("检查未完成：") + messageOf(error));
        }
    }
    updateAllButton->setEnabled(installed > 0 && serving);
    scanButton->setToolTip(QStringLiteral("检测到 %1 / %2 个 Agent").arg(installed).arg(clients.size()));
    Q_EMIT configurationUpdated();
}

void AgentPanel::checkAgent(int index, bool configure)
{
    if (busy)
        return;
    refresh();
    if (index < 0 || index >= clients.size() || index >= cards.size() || clients[index].executable.isEmpty())
        return;
    busy = true;
    QLabel* detail = cards[index].detailLabel;
    detail->setText(QStringLiteral("正在检查 MCP 服务…"));
    detail->show();
    prepareProbe([this, index, configure, detail](const QString& failure) {
        if (!failure.isEmpty()) {
            detail->setText(failure);
        } else {
            try {
                const AgentClient& client = clients[index];
                detail->setText(configure ? AgentConfig::configure(client, url(), stdioBridgePath())
                                          : AgentConfig::check(client, url(), stdioBridgePath())
                                                + QStringLiteral("；MCP 服务检查通过"));
            } catch (const std::exception& error) {
                detail->setText(QStringLiteral("未完成：") + messageOf(error));
            }
        }
        busy = false;
        Q_EMIT configurationUpdated();
    });
}

void AgentPanel::configureAll()
{
    if (busy)
        return;
    refresh();
    busy = true;
    summaryLabel->setText(QStringLiteral("正在检查 MCP 服务…"));
    summaryLabel->show();
    prepareProbe([this](const QString& failure) {
        if (!failure.isEmpty()) {
            summaryLabel->setText(failure);
        } else {
            int succeeded = 0;
            int failed = 0;
            for (int i = 0; i < clients.size() && i < cards.size(); ++i) {
                if (clients[i].executable.isEmpty())
                    continue;
                QLabel* detail = cards[i].detailLabel;
                detail->show();
                try {
                    detail->setText(AgentConfig::configure(clients[i], url(), stdioBridgePath()));
                    ++succeeded;
                } catch (const std::exception& error) {
                    detail->setText(QStringLiteral("未完成：") + messageOf(error));
                    ++failed;
                }
            }
            summaryLabel->setText(QStringLiteral("更新完成：%1 成功，%2 失败，%3 未安装跳过。请重载 Agent 配置。")
                                      .arg(succeeded)
                                      .arg(failed)
                                      .arg(clients.size() - succeeded - failed));
        }
        busy = false;
        Q_EMIT configurationUpdated();
    });
}

void AgentPanel::prepareProbe(const McpProbe::Callback& callback)
{
    // OpenCode is third in discovery order; its major version decides the
    // layout of its entry, which the check and the write that follow rely on.
    constexpr int OpenCode = 2;
    if (clients.size() <= OpenCode || !McpProbe::runsVersionRead(clients[OpenCode].executable)) {
        probe(callback);
        return;
    }
    McpProbe::readVersion(this, clients[OpenCode].executable, [this, callback](std::optional<bool> v2) {
        if (v2 && clients.size() > OpenCode)
            clients[OpenCode].openCodeV2 = *v2;
        probe(callback);
    });
}

void AgentPanel::probe(const McpProbe::Callback& callback)
{
    McpProbe::probe(
        this, [this] { return listening() ? url() : QString(); }, callback);
}

void AgentPanel::configureSkills()
{
    struct Choice {
        QString agent;
        QCheckBox* checkBox = nullptr;
        QLabel* stateLabel = nullptr;
    };

    auto* dialog = new QDialog(this);
    dialog->setObjectName(QStringLiteral("agentSkillDialog"));
    dialog->setAttribute(Qt::WA_DeleteOnClose);
    dialog->setWindowTitle(QStringLiteral("配置 Agent skill"));
    dialog->resize(760, 570);
    auto* layout = new QVBoxLayout(dialog);
    layout->addWidget(wrappedLabel(QStringLiteral("为 Agent 安装或更新软件、MCP 和脚本使用指南。已检测到的 Agent "
                                                  "默认勾选；不同内容先备份，更新后请重载 Agent。")));

    const AgentEnvironment snapshot = environment();
    const GuideText guides = builtinGuides();
    const QJsonArray targets = AgentSkill::targets(snapshot, guides);
    auto choices = std::make_shared<QList<Choice>>();
    for (const QJsonValue& value : targets) {
        const QJsonObject target = value.toObject();
        const QString agent = target.value(QStringLiteral("agent")).toString();
        const bool installed = target.value(QStringLiteral("installed")).toBool();
        auto* row = horizontal(nullptr);
        auto* box = new QCheckBox(target.value(QStringLiteral("name")).toString());
        box->setObjectName(QStringLiteral("skill_") + agent);
        box->setChecked(installed);
        QLabel* state = plainLabel((installed ? QStringLiteral("已检测到 · ") : QStringLiteral("未检测到 · "))
                                       + target.value(QStringLiteral("skill_state")).toString(),
                                   QStringLiteral("skillState_") + agent);
        row->addWidget(box);
        row->addWidget(state);
        row->addStretch();
        layout->addLayout(row);
        QLabel* path = wrappedLabel(QDir::toNativeSeparators(target.value(QStringLiteral("path")).toString()));
        path->setTextInteractionFlags(Qt::TextSelectableByMouse);
        layout->addWidget(path);
        choices->append({agent, box, state});
    }
    layout->addWidget(wrappedLabel(QStringLiteral("这里只更新 skill 文件。MCP 地址仍在 Agent 接入页配置。Claude Desktop "
                                                  "的自定义 skill 需在客户端导入，也可通过 MCP 的 read_usage_guide "
                                                  "读取本指南。")));

    auto* buttons = horizontal(nullptr);
    QPushButton* install = outlineButton(QStringLiteral("安装 / 更新所选"), QStringLiteral("installSelectedSkills"));
    QPushButton* close = outlineButton(QStringLiteral("关闭"), QStringLiteral("closeSkillDialog"));
    buttons->addStretch();
    buttons->addWidget(install);
    buttons->addWidget(close);
    layout->addLayout(buttons);

    auto updateInstall = [choices, install] {
        bool any = false;
        for (const Choice& choice : std::as_const(*choices))
            any = any || choice.checkBox->isChecked();
        install->setEnabled(any);
    };
    updateInstall();
    for (const Choice& choice : std::as_const(*choices))
        connect(choice.checkBox, &QCheckBox::toggled, dialog, updateInstall);
    connect(install, &QPushButton::clicked, dialog, [choices, snapshot, guides] {
        for (const Choice& choice : std::as_const(*choices)) {
            if (!choice.checkBox->isChecked())
                continue;
            try {
                const QJsonObject report = AgentSkill::install(choice.agent, snapshot, guides);
                choice.stateLabel->setText(QStringLiteral("已更新 · %1 个备份 · 请重载 Agent")
                                               .arg(report.value(QStringLiteral("backups")).toArray().size()));
            } catch (const std::exception& error) {
                choice.stateLabel->setText(QStringLiteral("未完成：") + messageOf(error));
            }
        }
    });
    connect(close, &QPushButton::clicked, dialog, &QDialog::accept);
    makeDialogScrollable(dialog, QSize(560, 320));
    dialog->show();
}

} // namespace vn
