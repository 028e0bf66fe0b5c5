// GNOME Shell's extension as the installer registers it: put in place from
// the helper bundle in the format the installed Shell loads, enabled in the
// Shell's settings beside the user's other extensions, and taken away.
#include "support/scoped_environment.h"
#include "support/temporary_directory.h"
#include "support/text_files.h"

#include "platform/linux_platform.h"

#include <gio/gio.h>
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

namespace {

using Strings = std::vector<std::string>;

Strings listed(GSettings* settings, const char* key)
{
    gchar** ids = g_settings_get_strv(settings, key);
    Strings result(ids, ids + g_strv_length(ids));
    g_strfreev(ids);
    return result;
}

// As GNOME Shell tells it ("GNOME Shell 48.7"); 0 when it does not.
int installedShellMajorVersion()
{
    gchar* output = nullptr;
    if (!g_spawn_command_line_sync("/usr/bin/gnome-shell --version", &output, nullptr, nullptr, nullptr))
        return 0;
    const std::string line = output ? output : "";
    g_free(output);
    const auto digit = line.find_first_of("0123456789");
    return digit == std::string::npos ? 0 : std::atoi(line.c_str() + digit);
}

TEST(DesktopExtension, GnomeShellsExtensionIsPutInPlaceEnabledAndTakenAway)
{
    if (!std::filesystem::exists("/usr/bin/gnome-shell"))
        GTEST_SKIP() << "GNOME Shell is not installed";
    testing_support::TemporaryDirectory data;
    testing_support::ScopedEnvironment dataHome("XDG_DATA_HOME", data.path().string());
    // Settings of this process alone.
    testing_support::ScopedEnvironment backend("GSETTINGS_BACKEND", "memory");
    GSettings* settings = g_settings_new("org.gnome.shell");
    const char* enabled[] = { "other@example.com", nullptr };
    const char* disabled[] = { "window-raising@helper.ferrowind.com", nullptr };
    g_settings_set_strv(settings, "enabled-extensions", enabled);
    g_settings_set_strv(settings, "disabled-extensions", disabled);

    const auto registration = platform::gnomeShellExtensionRegistration();
    ASSERT_TRUE(registration.install(HELPER_BUNDLE_DIR));
    const auto folder = data.path() / "gnome-shell/extensions/window-raising@helper.ferrowind.com";
    // The release decides which Shell is installed (43 on Debian 12, 48 on
    // Debian 13), and with it the format: imports before 45, modules since.
    const int shell = installedShellMajorVersion();
    ASSERT_GT(shell, 0);
    EXPECT_NE(testing_support::readTextFile(folder / "metadata.json").find("\"" + std::to_string(shell) + "\""), std::string::npos);
    EXPECT_NE(testing_support::readTextFile(folder / "extension.js").find(shell >= 45 ? "export default class" : "function init()"),
        std::string::npos);
    EXPECT_EQ(listed(settings, "enabled-extensions"), (Strings { "other@example.com", "window-raising@helper.ferrowind.com" }));
    EXPECT_EQ(listed(settings, "disabled-extensions"), Strings {});

    ASSERT_TRUE(registration.remove());
    EXPECT_FALSE(std::filesystem::exists(folder));
    EXPECT_EQ(listed(settings, "enabled-extensions"), Strings { "other@example.com" });

    // A Shell newer than the bundle gets the module format, which it loads
    // only when its metadata names it.
    testing_support::TemporaryDirectory programs;
    testing_support::writeTextFile(programs.path() / "gnome-shell", "#!/bin/sh\necho 'GNOME Shell 52.1'\n");
    std::filesystem::permissions(programs.path() / "gnome-shell", std::filesystem::perms::owner_all);
    testing_support::ScopedEnvironment path("PATH", programs.path().string() + ":" + std::getenv("PATH"));
    ASSERT_TRUE(registration.install(HELPER_BUNDLE_DIR));
    EXPECT_NE(testing_support::readTextFile(folder / "extension.js").find("export default class"), std::string::npos);
    EXPECT_NE(testing_support::readTextFile(folder / "metadata.json").find("\"49\", \"52\"]"), std::string::npos);
    g_object_unref(settings);
}

} // namespace
