#pragma once

#include "platform/server_volume_mounter.h"
#include "platform/volume_urls.h"

#include <map>
#include <optional>
#include <string>
#include <vector>

// Volume URLs by path as the test sets them; every other path names nothing.
class FakeVolumeURLs final : public platform::VolumeURLs {
public:
    std::optional<std::string> urlOfVolumeHolding(const std::string& path) const override
    {
        askedPaths.push_back(path);
        auto found = urls.find(path);
        return found == urls.end() ? std::nullopt : std::optional(found->second);
    }
    std::map<std::string, std::string> urls;
    mutable std::vector<std::string> askedPaths;
};

// Mounts the URLs the test lists, at the root paths it gives; refuses others.
class FakeServerVolumeMounter final : public platform::ServerVolumeMounter {
public:
    std::optional<std::string> mountServerVolume(const std::string& url) override
    {
        mountedURLs.push_back(url);
        auto found = rootPaths.find(url);
        return found == rootPaths.end() ? std::nullopt : std::optional(found->second);
    }
    std::map<std::string, std::string> rootPaths;
    std::vector<std::string> mountedURLs;
};
