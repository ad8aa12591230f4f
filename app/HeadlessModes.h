#pragma once

#include "ui/agents/AgentEnvironment.h"
#include "ui/agents/AgentSkill.h"

#include <QString>

#include <functional>
#include <optional>

namespace vn {

// What the command line asks of the two modes that run without a window.
struct HeadlessRequest {
    bool detect = false;        // --detect-skill-agents
    bool install = false;       // --install-skill given
    QString agent;              // its value
    bool report = false;        // --skill-report given
    QString reportPath;         // its value
};

// Runs --detect-skill-agents (which wins) or --install-skill and returns the
// process exit code: 0 done, 2 detection without a report path, 3 detection or
// installation failed, 4 the report could not be written. Nothing when neither
// mode is asked for.
std::optional<int> runHeadlessMode(const HeadlessRequest& request,
                                   const std::function<AgentEnvironment()>& environment,
                                   const GuideText& guide);

} // namespace vn
