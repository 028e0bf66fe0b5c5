#pragma once

#include <functional>
#include <string>

namespace platform {

// What the helper adds to the user's desktop beside its login item: where
// only the desktop shell may raise windows (GNOME Shell on Wayland), an
// extension of the shell that does it at the helper's request.
struct DesktopExtensionRegistration {
    // Puts the extension shipped in `helperBundle` in place for the user
    // and enables it. True when done, and where the desktop needs none.
    std::function<bool(const std::string& helperBundle)> install;
    // Disables and removes it; true when none is left.
    std::function<bool()> remove;
};

} // namespace platform
