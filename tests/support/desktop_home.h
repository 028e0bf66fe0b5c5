#pragma once

// A home of its own for a desktop program a test starts (a window manager,
// a Qt application), removed with the test: what such programs write
// unasked (logs, caches, a settings database, the address of a session bus
// they started) goes there rather than into the user's home or /tmp.

#include "support/child_process.h"
#include "support/temporary_directory.h"

#include <stdlib.h>

#include <filesystem>
#include <string>

namespace testing_support {

class DesktopHome {
public:
    DesktopHome()
    {
        std::filesystem::create_directories(home());
        // The runtime folder must be the user's alone, or GLib and Qt
        // ignore it and fall back to one of their own in /tmp.
        std::filesystem::create_directory(runtime());
        std::filesystem::permissions(runtime(), std::filesystem::perms::owner_all);
    }

    std::filesystem::path home() const { return m_root.path() / "home"; }
    std::filesystem::path runtime() const { return m_root.path() / "runtime"; }

    // The variables that point a program here. The session bus named is one
    // nobody serves: with none named, a program on a display starts one
    // through dbus-launch, which outlives the test and notes itself in ~/.dbus.
    Environment environment() const
    {
        return {
            { "HOME", home().string() },
            { "XDG_CACHE_HOME", (home() / ".cache").string() },
            { "XDG_CONFIG_HOME", (home() / ".config").string() },
            { "XDG_DATA_HOME", (home() / ".local/share").string() },
            { "XDG_RUNTIME_DIR", runtime().string() },
            { "DBUS_SESSION_BUS_ADDRESS", "unix:path=" + (runtime() / "bus").string() },
        };
    }

    // For a test process that is itself the desktop program, for its life.
    void enter() const
    {
        for (const auto& [name, value] : environment())
            setenv(name.c_str(), value.c_str(), 1);
    }

private:
    TemporaryDirectory m_root { "ferrowind-desktop" };
};

} // namespace testing_support
