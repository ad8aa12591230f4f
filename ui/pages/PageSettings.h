#pragma once

#include <QJsonObject>

namespace vn {

class Pane;

// The one JSON object a page saves and is restored from. A session page keeps
// its display switches, terminal clipboard options, encoding, splitter sizes,
// filter and frame script; a control page keeps its instrument's keys plus its
// data source and title. Restoring is lenient: a missing or mistyped key takes
// its default, numbers are clamped, and nothing fails outward.
class PageSettings {
public:
    static constexpr int DefaultPanelHeight = 164;
    static constexpr int MinPanelHeight = 96;
    static constexpr int MaxPanelHeight = 1200;

    static QJsonObject write(const Pane& page);
    static void restore(Pane& page, const QJsonObject& settings);

private:
    static QJsonObject writeSession(const Pane& page);
    static void restoreSession(Pane& page, const QJsonObject& settings);
    static void restoreControl(Pane& page, const QJsonObject& settings);
};

} // namespace vn
