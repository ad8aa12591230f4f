#pragma once

#include "ui/kit/BackgroundImage.h"

#include <functional>

class QWidget;

namespace vn {

// What the background settings page works on. The page holds two groups, the
// window background (receive false) and the receive background (receive true);
// it reads and changes them only through these calls, so it knows nothing of the
// windows that show them.
struct BackgroundActions {
    // The group's current settings and whether its picture is present.
    std::function<BackgroundSpec(bool receive)> current;
    // Takes new settings for the group, shows them everywhere and saves them; with
    // `dropPicture` the group's picture is removed as well.
    std::function<void(bool receive, const BackgroundSpec& look, bool dropPicture)> change;
    // Imports the picture file as the group's picture; false with the reason in error.
    std::function<bool(bool receive, const QString& path, QString* error)> import;
    // The parent of the file dialog and of the warning box.
    std::function<QWidget*()> dialogParent;
};

// The page of the appearance tab on which the user chooses, centres, resets and
// tunes both backgrounds. A new parentless widget; every change applies at once.
QWidget* backgroundSettingsPanel(const BackgroundActions& actions);

// Brings one group's controls found under `container` up to date without
// re-applying them: the file label, fit, opacity and position with their labels.
// `folder` is the folder of the settings file the picture path is relative to.
void syncBackgroundControls(QWidget* container, bool receive, const BackgroundSpec& look,
                            bool hasImage, const QString& folder);

} // namespace vn
