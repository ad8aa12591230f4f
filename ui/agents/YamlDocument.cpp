#include "ui/agents/YamlDocument.h"

#include "core/Fail.h"

#include <QHash>
#include <QList>
#include <QRegularExpression>

#include <cmath>
#include <utility>
#include <vector>

namespace vn {

namespace {

[[noreturn]] void yamlFailure(const std::exception& error)
{
    fail(QStringLiteral("YAML 语法无效：") + QString::fromUtf8(error.what()));
}

// A scalar as the YAML 1.2 core schema reads it.
struct Scalar {
    enum Kind { Null, Bool, Int, Float, String } kind = String;
    bool boolean = false;
    QString integer;  // decimal digits with sign, so that huge values still compare
    double number = 0;
    QString text;
};

QString canonicalInteger(QString digits, int base, bool negative)
{
    bool ok = false;
    const qulonglong value = digits.toULongLong(&ok, base);
    if (ok)
        digits = QString::number(value);
    while (digits.size() > 1 && digits.startsWith(QLatin1Char('0')))
        digits.remove(0, 1);
    if (negative && digits != QLatin1String("0"))
        digits.prepend(QLatin1Char('-'));
    return digits;
}

Scalar resolvePlain(const QString& text)
{
    static const QRegularExpression nullForm(QStringLiteral("^(?:~|null|Null|NULL|)$"));
    static const QRegularExpression trueForm(QStringLiteral("^(?:true|True|TRUE)$"));
    static const QRegularExpression falseForm(QStringLiteral("^(?:false|False|FALSE)$"));
    static const QRegularExpression decimal(QStringLiteral("^([-+]?)([0-9]+)$"));
    static const QRegularExpression octal(QStringLiteral("^0o([0-7]+)$"));
    static const QRegularExpression hex(QStringLiteral("^0x([0-9a-fA-F]+)$"));
    static const QRegularExpression fraction(QStringLiteral("^[-+]?(?:\\.[0-9]+|[0-9]+(?:\\.[0-9]*)?)(?:[eE][-+]?[0-9]+)?$"));
    static const QRegularExpression infinity(QStringLiteral("^([-+]?)\\.(?:inf|Inf|INF)$"));
    static const QRegularExpression notNumber(QStringLiteral("^\\.(?:nan|NaN|NAN)$"));

    Scalar scalar;
    // Most scalars are plain words: only these first characters can start a
    // null, a boolean or a number.
    static const QString starts = QStringLiteral("~nNtTfF+-.0123456789");
    if (!text.isEmpty() && !starts.contains(text.front())) {
        scalar.text = text;
        return scalar;
    }
    QRegularExpressionMatch m;
    if (nullForm.match(text).hasMatch()) {
        scalar.kind = Scalar::Null;
    } else if (trueForm.match(text).hasMatch() || falseForm.match(text).hasMatch()) {
        scalar.kind = Scalar::Bool;
        scalar.boolean = trueForm.match(text).hasMatch();
    } else if ((m = decimal.match(text)).hasMatch()) {
        scalar.kind = Scalar::Int;
        scalar.integer = canonicalInteger(m.captured(2), 10, m.captured(1) == QLatin1String("-"));
    } else if ((m = octal.match(text)).hasMatch()) {
        scalar.kind = Scalar::Int;
        scalar.integer = canonicalInteger(m.captured(1), 8, false);
    } else if ((m = hex.match(text)).hasMatch()) {
        scalar.kind = Scalar::Int;
        scalar.integer = canonicalInteger(m.captured(1), 16, false);
    } else if (fraction.match(text).hasMatch()) {
        scalar.kind = Scalar::Float;
        scalar.number = text.toDouble();
    } else if ((m = infinity.match(text)).hasMatch()) {
        scalar.kind = Scalar::Float;
        scalar.number = m.captured(1) == QLatin1String("-") ? -HUGE_VAL : HUGE_VAL;
    } else if (notNumber.match(text).hasMatch()) {
        scalar.kind = Scalar::Float;
        scalar.number = std::nan("");
    } else {
        scalar.text = text;
    }
    return scalar;
}

Scalar resolve(const YAML::Node& node)
{
    if (node.IsNull()) {
        Scalar scalar;
        scalar.kind = Scalar::Null;
        return scalar;
    }
    const QString text = QString::fromStdString(node.Scalar());
    const std::string& tag = node.Tag();
    if (tag == "?" || tag.empty())
        return resolvePlain(text);
    if (tag == "tag:yaml.org,2002:null" || tag == "tag:yaml.org,2002:bool" || tag == "tag:yaml.org,2002:int"
        || tag == "tag:yaml.org,2002:float")
        return resolvePlain(text);
    // Quoted ("!") and "!!str" scalars are strings; any other tag keeps its name
    // so that differently tagged scalars differ.
    Scalar scalar;
    scalar.text = (tag == "!" || tag == "tag:yaml.org,2002:str") ? text : QString::fromStdString(tag) + QLatin1Char(' ') + text;
    return scalar;
}

bool scalarEqual(const YAML::Node& a, const YAML::Node& b)
{
    const Scalar x = resolve(a);
    const Scalar y = resolve(b);
    if (x.kind != y.kind)
        return false;
    switch (x.kind) {
    case Scalar::Null:
        return true;
    case Scalar::Bool:
        return x.boolean == y.boolean;
    case Scalar::Int:
        return x.integer == y.integer;
    case Scalar::Float:
        return (std::isnan(x.number) && std::isnan(y.number)) || x.number == y.number;
    case Scalar::String:
        return x.text == y.text;
    }
    return false;
}

// One text per resolved scalar value: equal texts exactly for equal scalars.
QString canonical(const Scalar& scalar)
{
    switch (scalar.kind) {
    case Scalar::Null:
        return QStringLiteral("n");
    case Scalar::Bool:
        return scalar.boolean ? QStringLiteral("b1") : QStringLiteral("b0");
    case Scalar::Int:
        return QStringLiteral("i") + scalar.integer;
    case Scalar::Float:
        return std::isnan(scalar.number) ? QStringLiteral("fnan") : QStringLiteral("f") + QString::number(scalar.number == 0 ? 0.0 : scalar.number, 'g', 17);
    case Scalar::String:
        break;
    }
    return QStringLiteral("s") + scalar.text;
}

// YAML allows only printable characters in a stream (tab, line breaks, and no
// other C0 or C1 control, no DEL, no U+FFFE/U+FFFF, no lone surrogate). yaml-cpp
// lets them through and reads a NUL as the end of a scalar's line, so the
// same file can read differently after an edit; the agents' own loaders
// refuse such a file anyway.
void requirePrintable(const QString& text)
{
    qsizetype line = 1;
    qsizetype lineStart = 0;
    for (qsizetype i = 0; i < text.size(); ++i) {
        const char16_t c = text.at(i).unicode();
        if (c == u'\n') {
            ++line;
            lineStart = i + 1;
            continue;
        }
        bool printable = c == u'\t' || c == u'\r' || (c >= 0x20 && c <= 0x7E) || c == 0x85
                         || (c >= 0xA0 && c <= 0xD7FF) || (c >= 0xE000 && c <= 0xFFFD);
        if (QChar::isHighSurrogate(c) && i + 1 < text.size() && text.at(i + 1).isLowSurrogate()) {
            ++i;
            printable = true;
        }
        if (!printable)
            fail(QStringLiteral("YAML 语法无效：第 %1 行第 %2 列有不允许的字符 U+%3")
                     .arg(line)
                     .arg(i - lineStart + 1)
                     .arg(QString::number(c, 16).toUpper().rightJustified(4, QLatin1Char('0'))));
    }
}

bool isScalarLike(const YAML::Node& node)
{
    return node.IsScalar() || node.IsNull();
}

// yaml-cpp lets an alias name the anchor it sits inside ("&a {k: *a}"), which
// makes the tree a cycle, and aliases of aliases expand without bound; both
// would send every later walk (clone, compare) into the ground. A real agent
// configuration is small and flat, so such a document is refused up front.
constexpr int deepestNesting = 200;
constexpr long mostNodes = 200000;

void requireFiniteTree(const YAML::Node& node, std::vector<YAML::Node>& ancestors, long& visited)
{
    if (++visited > mostNodes)
        fail(QStringLiteral("YAML 别名展开后的节点过多，未修改文件"));
    if (!node.IsMap() && !node.IsSequence())
        return;
    for (const YAML::Node& above : ancestors) {
        if (above.is(node))
            fail(QStringLiteral("YAML 别名引用了包含它自身的节点，未修改文件"));
    }
    if (int(ancestors.size()) >= deepestNesting)
        fail(QStringLiteral("YAML 嵌套超过 %1 层，未修改文件").arg(deepestNesting));
    ancestors.push_back(node);
    for (auto it = node.begin(); it != node.end(); ++it) {
        if (node.IsMap()) {
            requireFiniteTree(it->first, ancestors, visited);
            requireFiniteTree(it->second, ancestors, visited);
        } else {
            requireFiniteTree(*it, ancestors, visited);
        }
    }
    ancestors.pop_back();
}

} // namespace

bool yamlEqual(const YAML::Node& a, const YAML::Node& b)
{
    if (!a.IsDefined() || !b.IsDefined())
        return a.IsDefined() == b.IsDefined();
    if (isScalarLike(a) && isScalarLike(b))
        return scalarEqual(a, b);
    if (a.Type() != b.Type())
        return false;
    if (a.IsSequence()) {
        if (a.size() != b.size())
            return false;
        for (std::size_t i = 0; i < a.size(); ++i) {
            if (!yamlEqual(a[i], b[i]))
                return false;
        }
        return true;
    }
    if (a.size() != b.size())
        return false;
    // Scalar keys are matched through their resolved form; other keys (rare)
    // are looked for one by one.
    QHash<QString, YAML::Node> scalarKeys;
    QList<std::pair<YAML::Node, YAML::Node>> otherKeys;
    for (auto right = b.begin(); right != b.end(); ++right) {
        if (isScalarLike(right->first))
            scalarKeys.insert(canonical(resolve(right->first)), right->second);
        else
            otherKeys.append({right->first, right->second});
    }
    for (auto left = a.begin(); left != a.end(); ++left) {
        if (isScalarLike(left->first)) {
            const auto found = scalarKeys.constFind(canonical(resolve(left->first)));
            if (found == scalarKeys.constEnd() || !yamlEqual(left->second, *found))
                return false;
            continue;
        }
        bool matched = false;
        for (const auto& [key, value] : otherKeys) {
            if (yamlEqual(left->first, key)) {
                matched = yamlEqual(left->second, value);
                break;
            }
        }
        if (!matched)
            return false;
    }
    return true;
}

YamlDocument::YamlDocument(YAML::Node root)
    : m_root(std::move(root))
{
}

YamlDocument YamlDocument::parse(const QString& text)
{
    requirePrintable(text);
    try {
        YAML::Node root = YAML::Load(text.toStdString());
        std::vector<YAML::Node> ancestors;
        long visited = 0;
        requireFiniteTree(root, ancestors, visited);
        return YamlDocument(root);
    } catch (const YAML::Exception& error) {
        yamlFailure(error);
    }
}

bool YamlDocument::isMap() const
{
    return m_root.IsMap();
}

YamlDocument YamlDocument::withServer(const QString& servers, const QString& key, const QString& url) const
{
    try {
        YAML::Node root = YAML::Clone(m_root);
        const std::string serversKey = servers.toStdString();
        YAML::Node table = root[serversKey];
        if (!table.IsDefined() || table.IsNull()) {
            root[serversKey] = YAML::Node(YAML::NodeType::Map);
            table = root[serversKey];
        } else if (!table.IsMap()) {
            fail(QStringLiteral("YAML 语法无效：") + servers + QStringLiteral(" 不是映射"));
        }
        YAML::Node entry(YAML::NodeType::Map);
        YAML::Node address(url.toStdString());
        address.SetTag("!");
        entry["url"] = address;
        entry["enabled"] = true;
        table[key.toStdString()] = entry;
        return YamlDocument(root);
    } catch (const YAML::Exception& error) {
        yamlFailure(error);
    }
}

bool YamlDocument::operator==(const YamlDocument& other) const
{
    return yamlEqual(m_root, other.m_root);
}

} // namespace vn
