#pragma once

#include "ui/agents/AgentConfig.h"
#include "ui/agents/AgentEnvironment.h"
#include "ui/agents/McpProbe.h"
#include "ui/kit/Theme.h"

#include <QList>
#include <QPointer>
#include <QWidget>

#include <functional>

class QGridLayout;
class QLabel;
class QPushButton;

namespace vn {

class AgentLogo;
class McpServer;

// The settings page on which the user points the installed AI agent tools at
// our MCP server: one card per supported tool with its installation state and
// the read-only check of its entry, a check or configure action per tool, an
// update of every installed tool at once, and the skill installation dialog.
// A check or configure the user starts is preceded by the live MCP probe, so
// nothing is written while the server at that address is not ours.
class AgentPanel : public QWidget {
    Q_OBJECT
public:
    using EnvironmentProvider = std::function<AgentEnvironment()>;

    // `server` is not owned and should outlive the page; `environment` must be set.
    AgentPanel(McpServer* server, EnvironmentProvider environment, const Theme& theme, QWidget* parent = nullptr);

    // Re-detects the tools and re-checks every card; ignored while an action waits for its probe.
    void refresh();

    // New colours for the tool marks.
    void setTheme(const Theme& theme);

Q_SIGNALS:
    // After every refresh that ran and every finished check or configure action.
    void configurationUpdated();

private:
    struct Card {
        QLabel* stateLabel = nullptr;
        QLabel* detailLabel = nullptr;
        QPushButton* configureButton = nullptr;
        QPushButton* checkButton = nullptr;
    };

    void buildCard(int index, QGridLayout* grid, const Theme& theme);
    void checkAgent(int index, bool configure);
    void configureAll();
    void configureSkills();
    void prepareProbe(const McpProbe::Callback& callback);
    void probe(const McpProbe::Callback& callback);
    bool listening() const;
    QString url() const;

    EnvironmentProvider environment;
    QPointer<McpServer> server;
    QList<AgentClient> clients;
    QList<Card> cards;
    QList<AgentLogo*> logos;
    QPushButton* scanButton = nullptr;
    QLabel* summaryLabel = nullptr;
    QPushButton* updateAllButton = nullptr;
    bool busy = false;
};

} // namespace vn
