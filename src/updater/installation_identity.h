#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace updater {

// Sparkle spreads a phased rollout over this many groups of installations.
constexpr unsigned kPhasedRolloutGroups = 7;

// The sparkle:os values that name the system this build runs on, lower
// case: "linux", and "linux-" with the build's architecture under its
// kernel name and its Debian name ("linux-x86_64", "linux-amd64").
std::vector<std::string> operatingSystemNames();

// This installation's phased-rollout group: the same at every start with
// nothing stored, different between machines and between installations
// (bundle identifier and path) on one machine. Without a machine
// identifier the other two still keep it stable.
unsigned phasedRolloutGroup(std::string_view machineIdentifier, std::string_view bundleIdentifier, std::string_view bundlePath);

} // namespace updater
