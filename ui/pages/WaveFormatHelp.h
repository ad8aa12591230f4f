#pragma once

#include <QString>

class QDialog;
class QWidget;

namespace vn {

// The small help beside a waveform page that explains the "@wave" line
// format, shows a microcontroller example and states the plot's limits and
// mouse controls. Non-modal, deleted when closed; each call opens a new one.
class WaveFormatHelp {
public:
    static QDialog* show(QWidget* parent);
    // The help page as HTML.
    static QString html();
};

} // namespace vn
