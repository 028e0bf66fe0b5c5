#include "updater/item_choice.h"

#include "updater/version_order.h"

#include <algorithm>
#include <cctype>

namespace updater {

namespace {

std::string lowerCase(std::string text)
{
    std::transform(text.begin(), text.end(), text.begin(), [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return text;
}

bool isForThisSystem(const AppcastItem& item, const InstallationContext& context)
{
    if (!item.os)
        return true;
    const auto& names = context.operatingSystems;
    return std::find(names.begin(), names.end(), lowerCase(*item.os)) != names.end();
}

bool isCandidate(const AppcastItem& item, const InstallationContext& context)
{
    // A delta applies to one installed version only and needs a patcher.
    return isForThisSystem(item, context) && !item.isDelta && !item.channel;
}

bool isCritical(const AppcastItem& item, std::string_view running)
{
    return item.hasCriticalMark && (!item.criticalBelow || isNewerVersion(*item.criticalBelow, running));
}

bool isReadyForThisGroup(const AppcastItem& item, const InstallationContext& context)
{
    if (isCritical(item, context.runningVersion) || !item.phasedRolloutInterval || !item.publishedAt)
        return true;
    // Wide enough that no interval or date a feed names can overflow.
    using Wide = __int128;
    const Wide wait = Wide(*item.phasedRolloutInterval) * context.phasedRolloutGroup;
    return Wide(context.now) - *item.publishedAt >= wait;
}

bool isMajorUpgrade(const AppcastItem& item, std::string_view running)
{
    return item.minimumAutoupdateVersion && !item.minimumAutoupdateVersion->empty()
        && compareVersions(running, *item.minimumAutoupdateVersion) < 0;
}

bool isInformational(const AppcastItem& item, std::string_view running)
{
    if (!item.informationalFor)
        return false;
    const auto& versions = *item.informationalFor;
    if (versions.empty())
        return true;
    return std::any_of(versions.begin(), versions.end(), [running](const std::string& version) {
        if (version.starts_with('<'))
            return compareVersions(running, std::string_view(version).substr(1)) < 0;
        return version == running;
    });
}

template<typename Keep>
const AppcastItem* newest(const std::vector<AppcastItem>& items, Keep keep)
{
    const AppcastItem* found = nullptr;
    for (auto const& item : items) {
        // Of equal versions the first in the feed wins.
        if (keep(item) && (!found || isNewerVersion(item.version, found->version)))
            found = &item;
    }
    return found;
}

std::string describe(const AppcastItem& item) { return item.shortVersion + " (" + item.version + ")"; }

ItemChoice none(std::string reason) { return { std::nullopt, std::move(reason) }; }

} // namespace

ItemChoice chooseUpdate(const std::vector<AppcastItem>& items, const InstallationContext& context)
{
    const std::string& running = context.runningVersion;
    auto ready = [&](const AppcastItem& item) { return isCandidate(item, context) && isReadyForThisGroup(item, context); };
    const AppcastItem* best = newest(items, [&](const AppcastItem& item) { return ready(item) && !isMajorUpgrade(item, running); });
    if (best && isNewerVersion(best->version, running)) {
        if (isInformational(*best, running))
            return none("update " + describe(*best) + " is informational only, nothing to install");
        if (best->url.empty())
            return none("update " + describe(*best) + " has no enclosure that can be fetched");
        return { *best, {} };
    }
    if (const AppcastItem* major = newest(items, ready); major && isNewerVersion(major->version, running))
        return none("update " + describe(*major) + " is a major upgrade (minimumAutoupdateVersion "
            + major->minimumAutoupdateVersion.value_or("") + "), not installed without asking");
    return none("no update newer than " + running);
}

} // namespace updater
