#pragma once

#include <QString>

#include <yaml-cpp/yaml.h>

namespace vn {

// A parsed YAML document with the value semantics the agent configuration check
// needs. yaml-cpp nodes alias on copy, insert keys through a non-const
// subscript and compare by identity; this wrapper clones, looks up without
// inserting and compares by value (scalars by their resolved YAML 1.2 core
// type, sequences element by element, mappings by key set).
class YamlDocument {
public:
    // Library errors become "YAML 语法无效：" + the library's message.
    static YamlDocument parse(const QString& text);

    bool isMap() const;

    // A copy whose mapping under `servers` has `key` set to {url, enabled: true};
    // fails when `servers` holds something other than a mapping or null.
    YamlDocument withServer(const QString& servers, const QString& key, const QString& url) const;

    bool operator==(const YamlDocument& other) const;

private:
    explicit YamlDocument(YAML::Node root);
    YAML::Node m_root;
};

// Value equality of two YAML nodes, as described above.
bool yamlEqual(const YAML::Node& a, const YAML::Node& b);

} // namespace vn
