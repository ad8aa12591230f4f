#pragma once

#include <QJsonArray>
#include <QJsonObject>
#include <QString>

namespace vn {

// Limits every panel JSON is held to.
constexpr int kMaxControlGroups = 32;
constexpr int kMaxGroupControls = 64;
constexpr int kMaxGroupName = 80;

// A fresh group id: a random UUID as 32 lower-case hex digits.
QString newGroupId();

// {"id": fresh id, "name": name, "controls": []}.
QJsonObject newGroup(const QString& name);

// Index of the first group whose "id" text equals `id`; -1 when none.
int groupIndex(const QJsonArray& groups, const QString& id);

// A panel JSON read into its consistent form: 1 to 32 groups with unique
// non-empty ids, names of at most 80 code units, at most 64 controls each,
// every control of a known type and carrying every default key.
struct PanelModel {
    QJsonArray groups;
    int active = 0;           // index of the group on show
    int columns = 0;          // 0 free, 1 or 2 columns
    QJsonObject monitor;      // the monitor window's settings, kept as given
};

PanelModel normalisePanel(const QJsonObject& panel);

// Whether a record's type is one of the five control types.
bool isControlType(const QString& type);

} // namespace vn
