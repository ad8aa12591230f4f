#pragma once

#include <QJsonObject>
#include <QString>

// Helpers shared by the check and the text editors of the agent configuration.
namespace vn {

// The text without a leading byte-order mark.
QString withoutBom(const QString& text);

// Whether two TOML ("toml") or YAML (any other format) texts hold equal documents.
bool sameDocument(const QString& format, const QString& a, const QString& b);

// OpenCode 2 spells our entry with "disabled": false instead of "enabled": true.
QJsonObject openCodeV2Entry(QJsonObject entry);

} // namespace vn
