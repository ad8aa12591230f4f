#include "ui/agents/BuiltinGuides.h"

#include "mcp/UsageGuide.h"

namespace vn {

GuideText builtinGuides()
{
    return [](const QString& topic) { return UsageGuide::text(topic); };
}

} // namespace vn
