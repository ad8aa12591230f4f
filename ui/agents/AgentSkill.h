#pragma once

#include "ui/agents/AgentEnvironment.h"

#include <QJsonArray>
#include <QJsonObject>
#include <QString>

#include <functional>

namespace vn {

// The built-in usage guide text of a topic ("overview", "frame_script"); the MCP
// server's guides are the program's source, tests pass their own.
using GuideText = std::function<QString(const QString& topic)>;

// The usage guide installed as a skill into the private folders of the agent
// tools that read skills, and the report of which of them are installed.
class AgentSkill {
public:
    AgentSkill() = delete;

    // Eight targets: {"agent", "name", "path", "installed", "skill_state"}.
    static QJsonArray targets(const AgentEnvironment& environment, const GuideText& guide);

    // The INI detection report ("[agents]", one "id=0|1" line per target, CR LF).
    static void writeDetection(const QString& path, const AgentEnvironment& environment, const GuideText& guide);

    // Installs "SKILL.md" and "references/frame-script.md" for one agent and
    // returns the skill report.
    static QJsonObject install(const QString& agent, const AgentEnvironment& environment, const GuideText& guide);
};

} // namespace vn
