#include "ui/agents/AgentSkill.h"

#include "core/Fail.h"
#include "core/Version.h"
#include "platform/WholeFile.h"
#include "ui/agents/AgentConfig.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QUuid>

#include <algorithm>
#include <array>

namespace vn {

namespace {

struct SkillFile {
    const char* name;
    const char* topic;
};

constexpr std::array<SkillFile, 2> skillFiles{{{"SKILL.md", "overview"}, {"references/frame-script.md", "frame_script"}}};

QJsonObject target(const QString& agent, const QString& name, const QString& folder)
{
    return {{QStringLiteral("agent"), agent}, {QStringLiteral("name"), name},
            {QStringLiteral("path"), folder + QStringLiteral("/skills/varnelle")}};
}

QString skillState(const QString& folder, const GuideText& guide)
{
    bool current = true;
    bool anyFile = false;
    for (const SkillFile& skill : skillFiles) {
        const QString path = folder + QLatin1Char('/') + QLatin1String(skill.name);
        if (!anyFile)
            anyFile = QFileInfo::exists(path);
        QFile file(path);
        if (file.open(QIODevice::ReadOnly))
            current = current && file.readAll() == guide(QLatin1String(skill.topic)).toUtf8();
        else
            current = false;
    }
    if (current)
        return QStringLiteral("已是最新");
    return anyFile ? QStringLiteral("可更新 / 修复") : QStringLiteral("未安装");
}

QString backupName(const QString& path)
{
    const QString stamp = QDateTime::currentDateTimeUtc().toString(QStringLiteral("yyyyMMdd-HHmmss-zzz"));
    return path + QLatin1Char('.') + stamp + QLatin1Char('-') + QUuid::createUuid().toString(QUuid::Id128).left(8)
           + QStringLiteral(".bak");
}

} // namespace

QJsonArray AgentSkill::targets(const AgentEnvironment& env, const GuideText& guide)
{
    const QString& home = env.home;
    QJsonArray list{
        target(QStringLiteral("codex"), QStringLiteral("Codex"), env.variable(QStringLiteral("CODEX_HOME"), home + QStringLiteral("/.codex"))),
        target(QStringLiteral("claude-code"), QStringLiteral("Claude Code"),
               env.variable(QStringLiteral("CLAUDE_CONFIG_DIR"), home + QStringLiteral("/.claude"))),
        target(QStringLiteral("opencode"), QStringLiteral("OpenCode"),
               env.variable(QStringLiteral("OPENCODE_CONFIG_DIR"),
                            env.variable(QStringLiteral("XDG_CONFIG_HOME"), home + QStringLiteral("/.config")) + QStringLiteral("/opencode"))),
        target(QStringLiteral("pi"), QStringLiteral("Pi Agent"),
               env.variable(QStringLiteral("PI_CODING_AGENT_DIR"), home + QStringLiteral("/.pi/agent"))),
        target(QStringLiteral("hermes"), QStringLiteral("Hermes"), env.variable(QStringLiteral("HERMES_HOME"), home + QStringLiteral("/.hermes"))),
        target(QStringLiteral("openclaw"), QStringLiteral("OpenClaw"),
               env.variable(QStringLiteral("OPENCLAW_STATE_DIR"), home + QStringLiteral("/.openclaw"))),
        target(QStringLiteral("grok"), QStringLiteral("Grok Build"), home + QStringLiteral("/.grok")),
        target(QStringLiteral("gemini"), QStringLiteral("Gemini CLI"), geminiFolder(env)),
    };
    const QList<AgentClient> clients = AgentConfig::discover(env);
    for (qsizetype i = 0; i < list.size(); ++i) {
        QJsonObject item = list.at(i).toObject();
        const QString agent = item.value(QStringLiteral("agent")).toString();
        const bool installed = std::any_of(clients.begin(), clients.end(), [&](const AgentClient& client) {
            return client.id == agent && !client.executable.isEmpty();
        });
        item.insert(QStringLiteral("installed"), installed);
        item.insert(QStringLiteral("skill_state"), skillState(item.value(QStringLiteral("path")).toString(), guide));
        list.replace(i, item);
    }
    return list;
}

void AgentSkill::writeDetection(const QString& path, const AgentEnvironment& env, const GuideText& guide)
{
    QByteArray content("[agents]\r\n");
    const QJsonArray list = targets(env, guide);
    for (const QJsonValue& item : list) {
        const QJsonObject target = item.toObject();
        content += target.value(QStringLiteral("agent")).toString().toUtf8() + '='
                   + (target.value(QStringLiteral("installed")).toBool() ? '1' : '0') + "\r\n";
    }
    if (!saveWhole(path, content).isEmpty())
        fail(QStringLiteral("无法写入 Agent 检测结果"));
}

QJsonObject AgentSkill::install(const QString& agent, const AgentEnvironment& env, const GuideText& guide)
{
    QString folder;
    const QJsonArray list = targets(env, guide);
    for (const QJsonValue& item : list) {
        if (item.toObject().value(QStringLiteral("agent")).toString() == agent)
            folder = item.toObject().value(QStringLiteral("path")).toString();
    }
    if (folder.isEmpty())
        fail(QStringLiteral("暂不支持该 Agent 的本地 skill 目录"));
    if (QFileInfo(folder).isSymLink())
        fail(QStringLiteral("skill 目标是链接，请选择普通目录"));

    std::array<QByteArray, skillFiles.size()> contents;
    for (std::size_t i = 0; i < skillFiles.size(); ++i)
        contents[i] = guide(QLatin1String(skillFiles[i].topic)).toUtf8();

    QJsonArray files;
    QJsonArray backups;
    for (std::size_t i = 0; i < skillFiles.size(); ++i) {
        const QString relative = QLatin1String(skillFiles[i].name);
        const QString path = folder + QLatin1Char('/') + relative;
        // No link anywhere below the skill folder is followed: a linked
        // "references" folder would carry the write somewhere else.
        for (QString below = QFileInfo(relative).path(); below != QLatin1String("."); below = QFileInfo(below).path()) {
            if (QFileInfo(folder + QLatin1Char('/') + below).isSymLink())
                fail(QStringLiteral("skill 目录中的链接不会被跟随，请改为普通目录：") + folder + QLatin1Char('/') + below);
        }
        if (QFileInfo(path).isSymLink())
            fail(QStringLiteral("不覆盖链接文件：") + path);
        if (!QDir().mkpath(QFileInfo(path).absolutePath()))
            fail(QStringLiteral("无法创建 skill 目录：") + path);
        const QByteArray& bytes = contents[i];
        if (QFileInfo::exists(path)) {
            QFile existing(path);
            if (!existing.open(QIODevice::ReadOnly))
                fail(QStringLiteral("无法读取已有 skill 文件：") + path);
            const QByteArray old = existing.readAll();
            existing.close();
            if (old == bytes) {
                files.append(path);
                continue;
            }
            const QString backup = backupName(path);
            if (!copyWhole(path, backup).isEmpty())
                fail(QStringLiteral("skill 备份失败，未覆盖原文件：") + path);
            backups.append(backup);
        }
        if (!saveWhole(path, bytes).isEmpty())
            fail(QStringLiteral("skill 写入失败：") + path);
        files.append(path);
    }
    return {{QStringLiteral("agent"), agent},
            {QStringLiteral("directory"), folder},
            {QStringLiteral("files"), files},
            {QStringLiteral("backups"), backups},
            {QStringLiteral("version"), QString::fromLatin1(Version)},
            {QStringLiteral("mcp_config_changed"), false},
            {QStringLiteral("reload_required"), true}};
}

} // namespace vn
