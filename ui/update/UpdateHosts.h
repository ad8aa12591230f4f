#pragma once

// Where releases come from. Every host the updater talks to is named here and only
// here; the build reads the web host from this file for the built-in release list.
namespace vn::update_hosts {

// The maker's update feed; also the only host allowed in a feed installer URL.
inline constexpr char FeedHost[] = "updates.dalmor.net";
// The release-hosting service: its REST interface and its web host for downloads.
inline constexpr char RestHost[] = "api.github.com";
inline constexpr char WebHost[] = "github.com";

inline constexpr char FeedPath[] = "/updates/latest.json";
inline constexpr char FeedInstallerFolder[] = "/updates/";
inline constexpr char RestLatestPath[] = "/repos/dalmor/varnelle/releases/latest";
inline constexpr char RestListPath[] = "/repos/dalmor/varnelle/releases";
inline constexpr char RestListQuery[] = "per_page=30";
// Followed by the tag as published and the installer file name.
inline constexpr char DownloadPath[] = "/dalmor/varnelle/releases/download/%1/%2";

} // namespace vn::update_hosts
