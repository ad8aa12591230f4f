#include "ui/window/Window.h"

#include "core/Channel.h"
#include "mcp/McpServer.h"
#include "ui/agents/AgentConfig.h"
#include "ui/agents/AgentEnvironment.h"
#include "ui/window/GuiScriptApplier.h"
#include "ui/window/GuiSearch.h"

#include <exception>

namespace vn {

void Window::installMcpUi()
{
    // The server outlives the window (start-up destroys the window first), so
    // each service holds the root window weakly and answers "window closed"
    // (or an empty sample) once it is gone.
    const QPointer<Window> self(this);
    server->searchHandler = [self](Channel* channel, const QJsonObject& arguments) {
        return searchGui(self.data(), channel, arguments);
    };
    server->sampleTextProvider = [self](Channel* channel) { return guiSampleText(self.data(), channel); };
    server->scriptApplier = [self](Channel* channel, const QString& code, bool enabled,
                                   const std::optional<QString>& sample) {
        applyGuiScript(self.data(), channel, code, enabled, sample);
    };
    connect(server, &McpServer::guiConnectionOpened, this, [self](Channel* channel) {
        if (!self || !channel)
            return;
        self->syncConnections();
        if (Pane* page = self->findPane(channel))
            self->showPane(page);
    });
    connect(server, &McpServer::toolCalled, this, &Window::showAiActivity);
    connect(server, &McpServer::portChanged, this, &Window::checkAgentEndpoints);
}

void Window::checkAgentEndpoints()
{
    if (root)
        return;
    const QString bridge = stdioBridgePath();
    const QString url = server->url();
    const AgentEnvironment environment = agentEnvironment ? agentEnvironment() : AgentEnvironment::current();
    QJsonArray checks;
    for (const AgentClient& tool : AgentConfig::discover(environment)) {
        if (tool.executable.isEmpty())
            continue;
        QString status;
        try {
            status = AgentConfig::check(tool, url, bridge);
        } catch (const std::exception&) {
            status = QStringLiteral("配置无法读取或解析，请在 Agent 接入页检查");
        }
        checks.append(QJsonObject{
            {QStringLiteral("agent"), tool.id},
            {QStringLiteral("name"), tool.name},
            {QStringLiteral("status"), status},
            {QStringLiteral("matches"), status == QLatin1String("配置地址一致")},
            {QStringLiteral("config_path"), tool.configPath},
            {QStringLiteral("expected_url"), url},
        });
    }
    server->agentChecks = checks;
    updateStatus();
}

} // namespace vn
