#include "ui/agents/AgentConfig.h"

#include "core/Fail.h"
#include "ui/agents/AgentConfigText.h"
#include "ui/agents/Jsonc.h"
#include "ui/agents/YamlDocument.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QRegularExpression>

#include <toml++/toml.h>

#include <optional>
#include <string>

namespace vn {

namespace {

const QChar bom(0xFEFF);

std::optional<toml::table> parseToml(const QString& text)
{
    const std::string bytes = text.toStdString();
    try {
        return toml::parse(bytes);
    } catch (const toml::parse_error&) {
        return std::nullopt;
    }
}

// The end of an entry's own lines in text[start, end): just past the last line
// after its first one that holds more than blanks or a comment. Blank lines and
// comments that come after it lead into whatever follows (another table or key)
// and are the user's notes on that, so an update keeps them; stopping there also
// keeps a repeated update from gaining a line each time.
qsizetype entryEnd(const QString& text, qsizetype start, qsizetype end)
{
    const auto lineAfter = [&](qsizetype from) {
        const qsizetype feed = text.indexOf(QLatin1Char('\n'), from);
        return feed < 0 || feed >= end ? end : feed + 1;
    };
    qsizetype own = lineAfter(start);
    for (qsizetype line = own; line < end;) {
        const qsizetype next = lineAfter(line);
        const QStringView content = QStringView(text).mid(line, next - line).trimmed();
        if (!content.isEmpty() && !content.startsWith(QLatin1Char('#')))
            own = next;
        line = next;
    }
    return own;
}

QString tomlUpdated(const QString& text, const QString& url)
{
    const std::optional<toml::table> original = parseToml(text);
    if (!original)
        fail(QStringLiteral("现有 TOML 语法无效，未修改文件"));
    const QString block = QStringLiteral("[mcp_servers.\"varnelle\"]\nurl = \"") + url + QStringLiteral("\"\nenabled = true\n");
    static const QRegularExpression table(QStringLiteral(
        "(?m)^\\[mcp_servers\\.(?:\"varnelle\"|'varnelle'|varnelle)\\][^\\n]*(?:\\n|$)[\\s\\S]*?(?=^\\[|\\z)"));
    QList<QRegularExpressionMatch> found;
    for (auto it = table.globalMatch(text); it.hasNext();)
        found.append(it.next());
    if (found.size() > 1)
        fail(QStringLiteral("MCP 表重复，未修改 TOML"));
    QString edited = text;
    if (found.size() == 1) {
        const qsizetype start = found.first().capturedStart();
        edited.replace(start, entryEnd(text, start, found.first().capturedEnd()) - start, block);
    } else
        edited += QLatin1Char('\n') + block;

    const std::optional<toml::table> result = parseToml(edited);
    if (!result)
        fail(QStringLiteral("TOML 节点使用特殊语法，未修改文件"));
    toml::table expected = *original;
    if (!expected.contains("mcp_servers"))
        expected.insert("mcp_servers", toml::table{});
    toml::table* servers = expected["mcp_servers"].as_table();
    // An array of tables named "mcp_servers" re-parses with our header inside its
    // last element, but there is no server table to compare against.
    if (!servers)
        fail(QStringLiteral("TOML 节点使用特殊语法，未修改文件"));
    servers->insert_or_assign("varnelle", toml::table{{"url", url.toStdString()}, {"enabled", true}});
    if (*result != expected)
        fail(QStringLiteral("TOML 编辑校验失败，未修改文件"));
    return edited;
}

QString yamlUpdated(const QString& text, const QString& url)
{
    const YamlDocument original = YamlDocument::parse(text.isEmpty() ? QStringLiteral("{}") : text);
    if (!original.isMap())
        fail(QStringLiteral("Hermes 配置需要 YAML 映射"));
    const QString merged = mergeYaml(text, url);
    const YamlDocument result = YamlDocument::parse(merged);
    const YamlDocument expected = original.withServer(QStringLiteral("mcp_servers"), QStringLiteral("varnelle"), url);
    if (!(result == expected))
        fail(QStringLiteral("YAML 编辑校验失败，未修改文件"));
    return merged;
}

QString compactJson(const QJsonValue& value)
{
    if (value.isObject())
        return QString::fromUtf8(QJsonDocument(value.toObject()).toJson(QJsonDocument::Compact));
    // A bare value is written through a one-element array and unwrapped.
    const QString array = QString::fromUtf8(QJsonDocument(QJsonArray{value}).toJson(QJsonDocument::Compact));
    return array.mid(1, array.size() - 2);
}

QString jsonUpdated(const AgentClient& client, const QString& text, const QString& url, const QString& bridge)
{
    const QString source = text.trimmed().isEmpty() ? QStringLiteral("{}") : text;
    const QJsonObject document = parseJsonc(source);
    QList<QString> path = client.keys;
    QJsonObject entry = AgentConfig::entry(client, url, bridge);
    if (client.id == QLatin1String("opencode")) {
        const QJsonValue mcp = document.value(QStringLiteral("mcp"));
        const bool hasServers = mcp.isObject() && mcp.toObject().contains(QStringLiteral("servers"));
        if (client.openCodeV2 && mcp.isObject() && !mcp.toObject().isEmpty() && !hasServers)
            fail(QStringLiteral("检测到 OpenCode V2，但文件仍是 V1 MCP 格式，请先在 OpenCode 中迁移配置；原文件未修改"));
        if (client.openCodeV2 || hasServers) {
            path.append(QStringLiteral("servers"));
            entry = openCodeV2Entry(entry);
        }
    }
    path.append(QStringLiteral("varnelle"));

    // An entry of ours that the user extended (for example with "headers") keeps
    // those members: only the entry's own members are set, one by one.
    QJsonValue existing = document;
    for (const QString& key : path)
        existing = existing.isObject() ? existing.toObject().value(key) : QJsonValue(QJsonValue::Undefined);
    if (!existing.isObject())
        return setJsonMember(source, 0, path, compactJson(entry));
    QString edited = source;
    const QJsonObject current = existing.toObject();
    for (auto it = entry.constBegin(); it != entry.constEnd(); ++it) {
        if (current.value(it.key()) == it.value())
            continue;
        edited = setJsonMember(edited, 0, QList<QString>(path) << it.key(), compactJson(it.value()));
    }
    return edited;
}

} // namespace

QString withoutBom(const QString& text)
{
    return text.startsWith(bom) ? text.mid(1) : text;
}

QJsonObject openCodeV2Entry(QJsonObject entry)
{
    entry.remove(QStringLiteral("enabled"));
    entry.insert(QStringLiteral("disabled"), false);
    return entry;
}

bool sameDocument(const QString& format, const QString& a, const QString& b)
{
    if (format == QLatin1String("toml")) {
        const std::optional<toml::table> left = parseToml(a);
        const std::optional<toml::table> right = parseToml(b);
        if (!left || !right)
            fail(QStringLiteral("现有 TOML 语法无效，未修改文件"));
        return *left == *right;
    }
    return YamlDocument::parse(a) == YamlDocument::parse(b);
}

QString AgentConfig::updated(const AgentClient& client, const QString& text, const QString& url, const QString& bridge)
{
    // A byte-order mark stays where it was; the editors see the text after it.
    // Only one is a mark: any further U+FEFF is text, as the check reads it.
    const bool marked = text.startsWith(bom);
    const QString body = marked ? text.mid(1) : text;
    const QString prefix = marked ? QString(bom) : QString();
    if (client.format == QLatin1String("yaml"))
        return prefix + yamlUpdated(body, url);
    if (client.format == QLatin1String("toml"))
        return prefix + tomlUpdated(body, url);
    return prefix + jsonUpdated(client, body, url, bridge);
}

QString mergeYaml(QString text, const QString& url)
{
    if (text.trimmed().startsWith(QLatin1Char('{'))) {
        parseJsonc(text);
        const QJsonObject entry{{QStringLiteral("enabled"), true}, {QStringLiteral("url"), url}};
        return setJsonMember(text, 0, {QStringLiteral("mcp_servers"), QStringLiteral("varnelle")}, compactJson(entry));
    }
    static const QRegularExpression header(QStringLiteral("(?m)^mcp_servers\\s*:[^\\n]*$"));
    static const QRegularExpression quotedHeader(QStringLiteral("(?m)^[\"']mcp_servers[\"']\\s*:"));
    static const QRegularExpression blockHeader(QStringLiteral("^mcp_servers\\s*:\\s*(?:#.*)?$"));
    static const QRegularExpression topLevel(QStringLiteral("(?m)^[^\\s#][^\\n]*$"));
    static const QRegularExpression indented(QStringLiteral("(?m)^( +)[^\\s#][^\\n]*:"));
    static const QRegularExpression mergeKey(QStringLiteral("(?m)^ +<<\\s*:"));
    const QString entryTail = QStringLiteral("\"\n    enabled: true\n");

    QList<QRegularExpressionMatch> headers;
    for (auto it = header.globalMatch(text); it.hasNext();)
        headers.append(it.next());
    if (headers.isEmpty()) {
        if (quotedHeader.match(text).hasMatch())
            fail(QStringLiteral("Hermes MCP 节点使用特殊 YAML 语法，请先改为普通块映射"));
        return text + QStringLiteral("\nmcp_servers:\n  varnelle:\n    url: \"") + url + entryTail;
    }
    if (headers.size() > 1 || !blockHeader.match(headers.first().captured()).hasMatch())
        fail(QStringLiteral("Hermes MCP 节点需为唯一的 YAML 块映射；现有文件未修改"));

    const qsizetype headerEnd = headers.first().capturedEnd();
    qsizetype blockEnd = text.size();
    if (headerEnd + 1 <= text.size()) {
        const QRegularExpressionMatch next = topLevel.match(text, headerEnd + 1);
        if (next.hasMatch())
            blockEnd = next.capturedStart();
    }
    QString block = text.mid(headerEnd, blockEnd - headerEnd);
    const QRegularExpressionMatch firstKey = indented.match(block);
    const QString indent = firstKey.hasMatch() ? firstKey.captured(1) : QStringLiteral("  ");
    if (block.contains(QLatin1Char('\t')) || mergeKey.match(block).hasMatch())
        fail(QStringLiteral("Hermes MCP 映射包含合并键或制表符，未修改文件"));

    const QRegularExpression entryLine(QStringLiteral("(?m)^") + indent
                                       + QStringLiteral("(?:varnelle|\"varnelle\"|'varnelle')\\s*:[^\\n]*$"));
    const QString entryText = indent + QStringLiteral("varnelle:\n") + indent + QStringLiteral("  url: \"") + url
                              + QStringLiteral("\"\n") + indent + QStringLiteral("  enabled: true\n");
    QList<QRegularExpressionMatch> entries;
    for (auto it = entryLine.globalMatch(block); it.hasNext();)
        entries.append(it.next());
    if (entries.size() > 1)
        fail(QStringLiteral("Hermes 的 varnelle 配置重复，未修改文件"));
    if (entries.size() == 1) {
        const qsizetype start = entries.first().capturedStart();
        const qsizetype lineEnd = entries.first().capturedEnd();
        const QRegularExpression sibling(QStringLiteral("(?m)^ {0,%1}[^\\s#][^\\n]*$").arg(indent.size()));
        qsizetype end = block.size();
        if (lineEnd + 1 <= block.size()) {
            const QRegularExpressionMatch next = sibling.match(block, lineEnd + 1);
            if (next.hasMatch())
                end = next.capturedStart();
        }
        // The entry is rewritten where it stands, so the keys around it keep
        // their order and an update with the same address changes nothing.
        block.replace(start, entryEnd(block, start, end) - start, entryText);
        text.replace(headerEnd, blockEnd - headerEnd, block);
        return text;
    }
    // Comment lines left of the entries' indent that close the block describe the
    // next top-level key: the new entry goes before them, so they stay above it.
    qsizetype insertAt = block.size();
    if (!indent.isEmpty()) {
        const QRegularExpression leftComment(QStringLiteral("^ {0,%1}#").arg(indent.size() - 1));
        while (insertAt > 1) {
            const qsizetype searchFrom = block.at(insertAt - 1) == QLatin1Char('\n') ? insertAt - 2 : insertAt - 1;
            const qsizetype previous = block.lastIndexOf(QLatin1Char('\n'), searchFrom) + 1;
            if (previous < 1 || !leftComment.match(block.mid(previous, insertAt - previous)).hasMatch())
                break;
            insertAt = previous;
        }
    }
    block.insert(insertAt, QLatin1Char('\n') + entryText);
    text.replace(headerEnd, blockEnd - headerEnd, block);
    return text;
}

} // namespace vn
