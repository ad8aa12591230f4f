// The updater's rules for the release-hosting service's replies: one release
// object (latest) or a list of them (the roll-back list). Whatever passes is
// a valid release; a list keeps at most three, newest first, one per version.

#include "tests/fuzz/UpdateChecks.h"
#include "ui/update/UpdateHosts.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    if (size < 1)
        return 0;
    const QString current = vn::fuzz::currentVersion(data[0]);
    const QByteArray json(reinterpret_cast<const char*>(data + 1), qsizetype(size - 1));
    if (data[0] & 0x80) {
        const QList<vn::UpdateRelease> list = vn::UpdateService::parseHistory(json);
        if (list.size() > 3)
            vn::fuzz::broken("more than three releases kept");
        vn::fuzz::show("kept " + QByteArray::number(list.size()));
        for (qsizetype i = 0; i < list.size(); ++i) {
            vn::fuzz::checkRelease(list[i], QStringLiteral("0.0.0"), vn::update_hosts::WebHost);
            if (i > 0 && !(QVersionNumber::fromString(list[i - 1].version) > QVersionNumber::fromString(list[i].version)))
                vn::fuzz::broken("release list not newest first with one entry per version");
        }
        return 0;
    }
    const std::optional<vn::UpdateRelease> release = vn::UpdateService::parseRelease(json, current);
    if (release)
    {
        vn::fuzz::show("accepted " + release->version.toUtf8());
        vn::fuzz::checkRelease(*release, current, vn::update_hosts::WebHost);
    }
    return 0;
}
