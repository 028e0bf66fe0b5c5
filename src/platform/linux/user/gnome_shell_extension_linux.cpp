#include "platform/linux/common/gobject_ptr.h"
#include "platform/linux/user/user_folders.h"
#include "platform/linux_platform.h"

#include <gio/gio.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <optional>
#include <string>
#include <system_error>
#include <vector>

namespace platform {

namespace {

namespace fs = std::filesystem;

constexpr const char* kUuid = "window-raising@helper.ferrowind.com";
constexpr const char* kShellSchema = "org.gnome.shell";
// The extension folder of the helper bundle holds one copy per module
// format GNOME Shell has had.
constexpr int kFirstShellWithModules = 45;

// The installed GNOME Shell's major version ("GNOME Shell 43.9"); nothing
// where there is none.
std::optional<int> shellMajorVersion()
{
    char* output = nullptr;
    int status = 0;
    const char* command[] = { "gnome-shell", "--version", nullptr };
    if (!g_spawn_sync(nullptr, const_cast<char**>(command), nullptr,
            static_cast<GSpawnFlags>(G_SPAWN_SEARCH_PATH | G_SPAWN_STDERR_TO_DEV_NULL), nullptr, nullptr, &output, nullptr, &status, nullptr))
        return std::nullopt;
    const linux_gio::GTextPtr text(output);
    const std::string line = text ? text.get() : "";
    const auto digit = line.find_first_of("0123456789");
    if (!g_spawn_check_wait_status(status, nullptr) || digit == std::string::npos)
        return std::nullopt;
    return std::atoi(line.c_str() + digit);
}

std::optional<fs::path> extensionFolder()
{
    const auto data = linux_files::xdgBaseFolder("XDG_DATA_HOME", ".local/share");
    return data ? std::optional(fs::path(*data) / "gnome-shell/extensions" / kUuid) : std::nullopt;
}

// GNOME Shell's settings, where its schema is installed (looking a missing
// schema up by name would end the process).
linux_gio::GObjectPtr<GSettings> shellSettings()
{
    GSettingsSchemaSource* source = g_settings_schema_source_get_default();
    GSettingsSchema* schema = source ? g_settings_schema_source_lookup(source, kShellSchema, TRUE) : nullptr;
    if (!schema)
        return linux_gio::GObjectPtr<GSettings>(nullptr);
    g_settings_schema_unref(schema);
    return linux_gio::GObjectPtr<GSettings>(g_settings_new(kShellSchema));
}

// Adds our extension to a list of extension ids, or takes it out.
bool listExtension(GSettings* settings, const char* key, bool listed)
{
    linux_gio::GVariantPtr value(g_settings_get_value(settings, key));
    std::vector<std::string> ids;
    GVariantIter iterator;
    const char* id = nullptr;
    g_variant_iter_init(&iterator, value.get());
    while (g_variant_iter_next(&iterator, "&s", &id)) {
        if (std::string_view(id) != kUuid)
            ids.emplace_back(id);
    }
    if (listed)
        ids.emplace_back(kUuid);
    std::vector<const char*> strings;
    for (const auto& text : ids)
        strings.push_back(text.c_str());
    strings.push_back(nullptr);
    return g_settings_set_strv(settings, key, strings.data());
}

bool enable(bool enabled)
{
    const auto settings = shellSettings();
    if (!settings)
        return true;
    const bool done = listExtension(settings.get(), "enabled-extensions", enabled) && listExtension(settings.get(), "disabled-extensions", false);
    g_settings_sync();
    return done;
}

// GNOME Shell loads an extension only when its metadata names the Shell's
// version. The module format has stayed the same since 45, so a Shell newer
// than the bundle is named too.
bool nameShellVersion(const fs::path& metadata, int version)
{
    std::ifstream in(metadata);
    std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    const std::string named = "\"" + std::to_string(version) + "\"";
    const auto list = text.find("\"shell-version\"");
    const auto end = list == std::string::npos ? std::string::npos : text.find(']', list);
    if (end == std::string::npos)
        return false;
    if (text.find(named, list) < end)
        return true;
    text.insert(end, ", " + named);
    std::ofstream out(metadata, std::ios::trunc);
    return static_cast<bool>(out << text);
}

bool installFrom(const std::string& helperBundle)
{
    const auto version = shellMajorVersion();
    if (!version)
        return true; // no GNOME Shell: nothing needs raising through it
    const auto target = extensionFolder();
    if (!target)
        return false;
    const auto source = fs::path(helperBundle) / "Contents/Resources/gnome-shell-extension" / (*version >= kFirstShellWithModules ? "45" : "43");
    std::error_code error;
    fs::remove_all(*target, error);
    fs::create_directories(*target, error);
    fs::copy(source, *target, fs::copy_options::recursive | fs::copy_options::overwrite_existing, error);
    return !error && nameShellVersion(*target / "metadata.json", *version) && enable(true);
}

bool remove()
{
    const bool disabled = enable(false);
    const auto target = extensionFolder();
    std::error_code error;
    if (target)
        fs::remove_all(*target, error);
    return disabled && !error;
}

} // namespace

DesktopExtensionRegistration gnomeShellExtensionRegistration() { return { installFrom, remove }; }

} // namespace platform
