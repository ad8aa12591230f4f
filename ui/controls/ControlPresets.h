#pragma once

#include <QJsonArray>

namespace vn {

// The built-in control groups, in menu order: pid, motor, temperature, pwm.
// Each is {"id", "name", "description", "controls"}; built afresh per call.
QJsonArray controlGroupPresets();

// The five basic example controls, one of each type, in the order they are
// added to a group. They carry no "rect" and no "layer".
QJsonArray exampleControls();

} // namespace vn
