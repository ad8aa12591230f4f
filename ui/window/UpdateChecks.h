#pragma once

#include <QString>
#include <QStringList>

namespace vn {

class UpdateService;

// Whether this run may look for updates: never on the "offscreen" platform
// (previews, tests) nor when an argument is exactly "--screenshot".
bool updateChecksAllowed(const QString& platformName, const QStringList& arguments);

// The first check two seconds from now, then one every six hours from a timer
// ("updateCheckTimer") that the service owns.
void scheduleUpdateChecks(UpdateService* service);

} // namespace vn
