#include "app/HeadlessModes.h"

#include "core/Fail.h"
#include "platform/WholeFile.h"

#include <QJsonDocument>
#include <QJsonObject>

#include <exception>

namespace vn {

namespace {

enum ExitCode { Done = 0, MissingReport = 2, Failed = 3, ReportNotWritten = 4 };

// The message AgentSkill::writeDetection fails with when the report itself
// cannot be written, as opposed to the detection failing.
const QString detectionWriteFailure = QStringLiteral("无法写入 Agent 检测结果");

int detect(const HeadlessRequest& request, const std::function<AgentEnvironment()>& environment,
           const GuideText& guide)
{
    if (!request.report)
        return MissingReport;
    try {
        AgentSkill::writeDetection(request.reportPath, environment(), guide);
    } catch (const std::exception& error) {
        return errorText(error) == detectionWriteFailure ? ReportNotWritten : Failed;
    }
    return Done;
}

bool writeReport(const QString& path, const QJsonObject& report)
{
    return saveWhole(path, QJsonDocument(report).toJson(QJsonDocument::Indented)).isEmpty();
}

int install(const HeadlessRequest& request, const std::function<AgentEnvironment()>& environment,
            const GuideText& guide)
{
    int code = Done;
    QJsonObject report;
    try {
        report = AgentSkill::install(request.agent, environment(), guide);
    } catch (const std::exception& error) {
        report = QJsonObject{{QStringLiteral("error"), errorText(error)}};
        code = Failed;
    }
    if (request.report && !writeReport(request.reportPath, report))
        code = ReportNotWritten;
    return code;
}

} // namespace

std::optional<int> runHeadlessMode(const HeadlessRequest& request,
                                   const std::function<AgentEnvironment()>& environment,
                                   const GuideText& guide)
{
    if (request.detect)
        return detect(request, environment, guide);
    if (request.install)
        return install(request, environment, guide);
    return std::nullopt;
}

} // namespace vn
