// The updater's feed manifest rules: an arbitrary reply of the maker's feed is
// refused or yields a release that passes every rule.

#include "tests/fuzz/UpdateChecks.h"
#include "ui/update/UpdateHosts.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    if (size < 1)
        return 0;
    const QString current = vn::fuzz::currentVersion(data[0]);
    const QByteArray json(reinterpret_cast<const char*>(data + 1), qsizetype(size - 1));
    const std::optional<vn::UpdateRelease> release = vn::UpdateService::parseMirrorManifest(json, current);
    if (release)
    {
        vn::fuzz::show("accepted " + release->version.toUtf8());
        vn::fuzz::checkRelease(*release, current, vn::update_hosts::FeedHost);
    }
    return 0;
}
