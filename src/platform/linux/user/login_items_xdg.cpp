// Login items as XDG autostart entries: one desktop entry file per item in
// the user's autostart folder, which the desktop session reads at login.

#include "platform/bundle.h"
#include "platform/linux/common/gobject_ptr.h"
#include "platform/linux/common/owned_descriptor.h"
#include "platform/linux/common/retrying_io.h"
#include "platform/linux/user/user_folders.h"
#include "platform/login_items.h"

#include <fcntl.h>
#include <glib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <string_view>
#include <system_error>
#include <utility>

namespace platform {

namespace {

// Our own key: the session ignores X- keys, and it lets us tell our entries
// from those of other programs without guessing from the Exec line.
constexpr const char* kBundleURLKey = "X-Ferrowind-Bundle-URL";

// Enough for every entry a user could plausibly have; a bound all the same,
// so a folder we cannot make sense of cannot keep us looping.
constexpr int kMostEntryNameAttempts = 10000;

std::string autostartFolder()
{
    auto configHome = linux_files::xdgBaseFolder("XDG_CONFIG_HOME", ".config");
    return configHome ? *configHome + "/autostart" : std::string();
}

// Only URLs naming a file on this machine have a path whose existence we
// can check.
std::optional<std::string> localPathOfFileURL(const std::string& fileURL)
{
    char* rawHostname = nullptr;
    linux_gio::GTextPtr path(g_filename_from_uri(fileURL.c_str(), &rawHostname, nullptr));
    linux_gio::GTextPtr hostname(rawHostname);
    if (!path || (hostname && std::string_view(hostname.get()) != "localhost"))
        return std::nullopt;
    return std::string(path.get());
}

// Quoted as the Desktop Entry Specification's Exec rules want it. Quoting
// always is simpler than deciding whether a path holds a reserved character,
// and bundle names usually hold a blank.
std::string quotedExecArgument(std::string_view argument)
{
    std::string quoted = "\"";
    for (const char character : argument) {
        if (character == '"' || character == '`' || character == '$' || character == '\\')
            quoted += '\\';
        else if (character == '%')
            quoted += '%'; // Field codes are expanded even inside quotes.
        quoted += character;
    }
    quoted += '"';
    return quoted;
}

// "Ferrowind Helper" -> "ferrowind-helper": a file name users recognise when
// they look into their autostart folder, and one any tool can handle.
std::string entryFileStem(std::string_view displayName)
{
    std::string stem;
    for (const char character : displayName) {
        if (g_ascii_isalnum(character))
            stem += g_ascii_tolower(character);
        else if (!stem.empty() && !stem.ends_with('-'))
            stem += '-';
    }
    while (stem.ends_with('-'))
        stem.pop_back();
    return stem.empty() ? "login-item" : stem;
}

std::string desktopEntryText(const std::string& bundleFileURL, const std::string& bundlePath)
{
    const std::string executable = bundleExecutablePath(bundlePath);
    linux_gio::GTextPtr displayName(g_filename_display_name(bundleName(bundlePath).c_str()));

    linux_gio::GKeyFilePtr owned(g_key_file_new());
    GKeyFile* entry = owned.get();
    const char* group = G_KEY_FILE_DESKTOP_GROUP;
    g_key_file_set_string(entry, group, G_KEY_FILE_DESKTOP_KEY_TYPE, G_KEY_FILE_DESKTOP_TYPE_APPLICATION);
    g_key_file_set_string(entry, group, G_KEY_FILE_DESKTOP_KEY_NAME, displayName.get());
    g_key_file_set_string(entry, group, G_KEY_FILE_DESKTOP_KEY_EXEC, quotedExecArgument(executable).c_str());
    // An entry whose bundle was deleted stays in the list; this makes the
    // session pass over it quietly instead of failing to start it at every
    // login.
    g_key_file_set_string(entry, group, G_KEY_FILE_DESKTOP_KEY_TRY_EXEC, executable.c_str());
    g_key_file_set_boolean(entry, group, G_KEY_FILE_DESKTOP_KEY_NO_DISPLAY, TRUE);
    g_key_file_set_boolean(entry, group, "X-GNOME-Autostart-enabled", TRUE);
    g_key_file_set_string(entry, group, kBundleURLKey, bundleFileURL.c_str());

    gsize length = 0;
    linux_gio::GTextPtr text(g_key_file_to_data(entry, &length, nullptr));
    return std::string(text.get(), length);
}

// Never replaces a file that is there, not even one that appears between
// our look and our write: O_EXCL decides, and it does not follow a symbolic
// link either.
std::optional<std::string> createEntryFile(const std::string& folder, const std::string& stem,
    std::string_view contents)
{
    for (int number = 1; number <= kMostEntryNameAttempts; ++number) {
        const std::string path = folder + "/" + stem + "-" + std::to_string(number) + ".desktop";
        linux_files::OwnedDescriptor entry(open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644));
        if (!entry.isValid()) {
            if (errno == EEXIST)
                continue;
            return std::nullopt;
        }
        const bool written = linux_files::writeAll(entry.get(), contents);
        if (!entry.closeReportingErrors() || !written) {
            // A half-written entry would be started at login all the same.
            unlink(path.c_str());
            return std::nullopt;
        }
        return path;
    }
    return std::nullopt;
}

class XdgAutostartList final : public LoginItemsList {
public:
    explicit XdgAutostartList(std::string folder)
        : m_folder(std::move(folder))
    {
    }

    std::vector<LoginItem> snapshot() const override
    {
        std::vector<LoginItem> items;
        std::error_code error;
        for (std::filesystem::directory_iterator entry(m_folder, error), end; !error && entry != end; entry.increment(error)) {
            if (entry->path().filename().string().ends_with(".desktop"))
                items.push_back({ entry->path().string() });
        }
        // Directory order is whatever the file system keeps and may change
        // as entries come and go; by name it is the same on every read.
        std::sort(items.begin(), items.end(),
            [](const LoginItem& left, const LoginItem& right) { return left.reference < right.reference; });
        return items;
    }

    std::optional<std::string> resolve(const LoginItem& item) const override
    {
        linux_gio::GKeyFilePtr entry(g_key_file_new());
        if (!g_key_file_load_from_file(entry.get(), item.reference.c_str(), G_KEY_FILE_NONE, nullptr))
            return std::nullopt;
        linux_gio::GTextPtr bundleFileURL(
            g_key_file_get_string(entry.get(), G_KEY_FILE_DESKTOP_GROUP, kBundleURLKey, nullptr));
        if (!bundleFileURL)
            return std::nullopt;
        const auto bundlePath = localPathOfFileURL(bundleFileURL.get());
        // lstat: the registered path itself must still be there; where it
        // leads is not ours to judge.
        struct stat status = {};
        if (!bundlePath || lstat(bundlePath->c_str(), &status) != 0)
            return std::nullopt;
        return std::string(bundleFileURL.get());
    }

    // The session starts autostart entries in no particular order, so there
    // is no end of the list to put the entry at; what matters is that it is
    // added beside the others and never in the place of one.
    std::optional<LoginItem> insertLast(const std::string& bundleFileURL) override
    {
        const auto bundlePath = localPathOfFileURL(bundleFileURL);
        if (!bundlePath)
            return std::nullopt;
        const auto path = createEntryFile(m_folder, entryFileStem(bundleName(*bundlePath)),
            desktopEntryText(bundleFileURL, *bundlePath));
        if (!path)
            return std::nullopt;
        return LoginItem { *path };
    }

    bool remove(const LoginItem& item) override { return unlink(item.reference.c_str()) == 0; }

private:
    std::string m_folder;
};

} // namespace

std::unique_ptr<LoginItemsList> openLoginItems()
{
    const std::string folder = autostartFolder();
    // A user who never had a login item has no autostart folder yet. The
    // folder is private to the user, as the rest of the config home is.
    if (folder.empty() || g_mkdir_with_parents(folder.c_str(), 0700) != 0)
        return nullptr;
    return std::make_unique<XdgAutostartList>(folder);
}

} // namespace platform
