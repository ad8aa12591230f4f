// The JSONC reader and the in-place member editor. When the reader accepts a
// text and the editor sets a member, the edited text must read back with that
// member holding the new value and every other member as it was.

#include "tests/fuzz/FuzzSupport.h"
#include "ui/agents/Jsonc.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QStringList>

#include <stdexcept>

namespace {

QJsonValue at(const QJsonObject& root, const QList<QString>& path)
{
    QJsonValue value = root;
    for (const QString& key : path)
        value = value.isObject() ? value.toObject().value(key) : QJsonValue(QJsonValue::Undefined);
    return value;
}

// The document with `path` set to `value`, as the editor should leave it.
QJsonObject withMember(QJsonObject root, const QList<QString>& path, const QJsonValue& value)
{
    if (path.size() == 1) {
        root.insert(path.first(), value);
        return root;
    }
    const QJsonObject inner = root.value(path.first()).toObject();
    root.insert(path.first(), withMember(inner, path.mid(1), value));
    return root;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    if (size < 1)
        return 0;
    static const QStringList keys{QStringLiteral("mcpServers"), QStringLiteral("mcp"), QStringLiteral("servers"),
                                  QStringLiteral("varnelle"), QStringLiteral("url"), QStringLiteral("a")};
    static const QStringList values{QStringLiteral("{\"url\":\"http://127.0.0.1:7777/mcp\",\"enabled\":true}"),
                                    QStringLiteral("\"http://127.0.0.1:7777/mcp\""), QStringLiteral("true"),
                                    QStringLiteral("[1,{\"x\":null}]")};
    const std::uint8_t choice = data[0];
    const QString text = QString::fromUtf8(reinterpret_cast<const char*>(data + 1), qsizetype(size - 1));
    (void)vn::jsonTokens(text);

    QJsonObject original;
    try {
        original = vn::parseJsonc(text);
    } catch (const std::runtime_error&) {
        return 0;
    }
    QList<QString> path;
    const int depth = 1 + choice % 3;
    for (int i = 0; i < depth; ++i)
        path.append(keys.at((choice >> (2 + i)) % keys.size()));
    const QString value = values.at((choice >> 5) % values.size());

    QString edited;
    try {
        edited = vn::setJsonMember(text, 0, path, value);
    } catch (const std::runtime_error&) {
        return 0;
    }
    QJsonObject result;
    try {
        result = vn::parseJsonc(edited);
    } catch (const std::runtime_error&) {
        vn::fuzz::broken("the edited text no longer reads");
    }
    const QJsonValue expected = QJsonDocument::fromJson("[" + value.toUtf8() + "]").array().at(0);
    if (at(result, path) != expected)
        vn::fuzz::broken("the edited member does not hold the new value");
    if (result != withMember(original, path, expected))
        vn::fuzz::broken("the edit changed other members");
    return 0;
}
