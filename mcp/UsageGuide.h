#pragma once

#include <QJsonObject>
#include <QString>

namespace vn {

// The built-in Markdown guides for AI agents: "overview" (an agent skill file,
// SKILL.md) and "frame_script" (the frame-script language reference). The MCP
// tool read_usage_guide serves them, and the agent integration installs the
// same texts as a skill.
class UsageGuide {
public:
    // The guide's Markdown text; fails "未知指南主题，请使用 overview 或
    // frame_script" for any other topic.
    static QString text(const QString& topic);

    // The result of read_usage_guide: the guide and where the skill lives.
    static QJsonObject read(const QString& topic);
};

} // namespace vn
