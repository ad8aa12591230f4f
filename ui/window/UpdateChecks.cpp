#include "ui/window/UpdateChecks.h"

#include "ui/update/UpdateService.h"

#include <QTimer>

namespace vn {

bool updateChecksAllowed(const QString& platformName, const QStringList& arguments)
{
    return platformName != QLatin1String("offscreen") && !arguments.contains(QStringLiteral("--screenshot"));
}

void scheduleUpdateChecks(UpdateService* service)
{
    QTimer::singleShot(2000, Qt::CoarseTimer, service, &UpdateService::check);
    auto* periodic = new QTimer(service);
    periodic->setObjectName(QStringLiteral("updateCheckTimer"));
    periodic->setInterval(21600000);
    QObject::connect(periodic, &QTimer::timeout, service, &UpdateService::check);
    periodic->start();
}

} // namespace vn
