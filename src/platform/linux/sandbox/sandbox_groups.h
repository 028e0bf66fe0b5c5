#pragma once

// What systemd's names for control groups say about the processes in them.
// Flatpak asks the user's manager for a scope "app-flatpak-APPID-PID.scope"
// for every application it runs, and snapd runs every snap application in
// "snap.NAME.APP-UUID.scope" (a service: "snap.NAME.APP.service"). Only the
// sandbox's launcher outside it can ask for such a group: the sandbox has no
// way to write the hierarchy. The name of a group proves a sandbox; a group
// without such a name proves nothing, since where no manager runs Flatpak
// leaves the application in the group of whoever started it.

#include <optional>
#include <string>
#include <string_view>

namespace platform::sandbox {

struct GroupSandbox {
    enum class Kind { flatpak,
        snap };
    Kind kind;
    // The Flatpak application id, or the snap's name.
    std::string id;
};

// Whether `id` is a Flatpak application id as flatpak itself checks one:
// at most 255 bytes, three or more dot-separated elements of letters,
// digits and underscores that do not start with a digit, dashes only in the
// last.
bool isFlatpakApplicationId(std::string_view id);

// The sandbox the last element of a group's path names, if any.
std::optional<GroupSandbox> sandboxOfGroup(std::string_view groupPath);

} // namespace platform::sandbox
