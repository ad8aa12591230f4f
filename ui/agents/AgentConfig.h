#pragma once

#include "ui/agents/AgentEnvironment.h"

#include <QJsonObject>
#include <QList>
#include <QString>

namespace vn {

// One supported AI agent tool as found on this machine.
struct AgentClient {
    QString id;
    QString name;
    QString icon;        // logo file name under ":/agents/"
    QString executable;  // empty: not installed
    QString configPath;  // the file that lists the tool's MCP servers; need not exist
    QString format;      // "json", "toml" or "yaml"
    QList<QString> keys; // member path from the file's root to the server table
    bool openCodeV2 = false;
};

// Finding the agent tools and writing our MCP entry into their configuration
// files by editing the text in place.
class AgentConfig {
public:
    AgentConfig() = delete;

    // Always the same nine records in the same order, installed or not.
    static QList<AgentClient> discover(const AgentEnvironment& environment);

    // The members of our server entry for one tool.
    static QJsonObject entry(const AgentClient& client, const QString& url, const QString& bridge);

    // The complete new file text with our entry set; nothing else changes.
    static QString updated(const AgentClient& client, const QString& text, const QString& url,
                           const QString& bridge);

    // "尚未配置", "配置地址一致" or "需要更新配置"; writes nothing.
    static QString check(const AgentClient& client, const QString& url, const QString& bridge);

    // Writes the entry with a backup of the old file and checks it again.
    static QString configure(const AgentClient& client, const QString& url, const QString& bridge);
};

// The current text of the client's configuration file ("{}" or empty when absent).
QString readConfig(const AgentClient& client);

// The YAML text with our entry set under the top-level "mcp_servers" block.
QString mergeYaml(QString text, const QString& url);

// Gemini CLI's own folder, which holds both its settings file and its skills.
// The tool moves it below GEMINI_CLI_HOME when that is set, so the settings we
// write, the settings we check and the skill we install all follow it together.
QString geminiFolder(const AgentEnvironment& environment);

// The stdio bridge program that ships beside this program's executable.
QString stdioBridgePath();

} // namespace vn
