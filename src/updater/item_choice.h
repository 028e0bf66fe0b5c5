#pragma once

#include "updater/appcast.h"

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace updater {

// What about this installation decides which item it takes.
struct InstallationContext {
    std::string runningVersion;
    // sparkle:os values that name this system, lower case.
    std::vector<std::string> operatingSystems;
    unsigned phasedRolloutGroup { 0 }; // 0 .. kPhasedRolloutGroups - 1
    std::int64_t now { 0 }; // seconds since the epoch
};

struct ItemChoice {
    std::optional<AppcastItem> item; // the update to install
    std::string reason; // when there is none: why, for the log
};

// The item Sparkle's appcast driver would take for a program that installs
// without asking: items for this system on the default channel, no delta
// items, phased rollout honoured (critical updates reach every group at
// once), and the newest of those that need no major upgrade; Sparkle would
// offer a major upgrade (minimumAutoupdateVersion above the running
// version) only with a user interface. An informational item chosen this
// way is not installed, and no older item is taken in its place.
// minimumSystemVersion and maximumSystemVersion name macOS versions and
// say nothing here: they are not looked at.
ItemChoice chooseUpdate(const std::vector<AppcastItem>& items, const InstallationContext& context);

} // namespace updater
