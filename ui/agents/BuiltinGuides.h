#pragma once

#include "ui/agents/AgentSkill.h"

namespace vn {

// The program's own usage guides, the texts the MCP server serves, for the skill
// functions: AgentSkill::install(agent, environment, builtinGuides()).
GuideText builtinGuides();

} // namespace vn
