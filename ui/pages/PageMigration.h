#pragma once

#include <QJsonArray>

namespace vn {

// Control-page settings in their current form: "waveform", "json", "xml" and
// "control" pass unchanged; the older "structured" pages become one "json"
// and/or one "xml" page, "values" pages become the live values of the
// waveform page of their source; every other element is dropped. Pure.
QJsonArray migrateInstrumentPages(const QJsonArray& pages);

} // namespace vn
