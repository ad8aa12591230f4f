#pragma once

#include <QString>

#include <optional>

class QWidget;

namespace vn {

// The small modal dialogs of a control panel's group and clear operations.
// Each is built when asked, run with exec() and gone when it returns.

// Asks for a group name; the trimmed name, or nothing when cancelled.
std::optional<QString> askGroupName(QWidget* parent, const QString& title, const QString& initial);

// Asks before a group and its controls are deleted; Enter cancels.
bool confirmGroupDelete(QWidget* parent, const QString& groupName);

// Asks before every control of every group is removed; Enter cancels.
bool confirmClearControls(QWidget* parent, int groupCount, int controlCount);

} // namespace vn
