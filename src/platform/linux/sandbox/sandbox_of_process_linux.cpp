#include "platform/linux/sandbox/sandbox_of_process.h"

#include "platform/linux/common/gobject_ptr.h"

#include <glib.h>
#include <sys/stat.h>

#include <fstream>
#include <sstream>

namespace platform::sandbox {

namespace {

std::string procEntry(pid_t process, const char* entry) { return "/proc/" + std::to_string(process) + "/" + entry; }

std::optional<ino_t> mountNamespaceOf(const std::string& namespaceLink)
{
    struct stat status = {};
    if (stat(namespaceLink.c_str(), &status) != 0)
        return std::nullopt;
    return status.st_ino;
}

std::optional<std::string> wholeFile(const std::string& path)
{
    std::ifstream file(path);
    if (!file)
        return std::nullopt;
    std::ostringstream text;
    text << file.rdbuf();
    return text.str();
}

// A snap's name: lower-case letters, digits and dashes.
bool isSnapName(std::string_view name)
{
    return !name.empty() && name.find_first_not_of("abcdefghijklmnopqrstuvwxyz0123456789-") == std::string_view::npos;
}

} // namespace

bool inOtherMountNamespace(pid_t process)
{
    static const auto ours = mountNamespaceOf("/proc/self/ns/mnt");
    const auto theirs = mountNamespaceOf(procEntry(process, "ns/mnt"));
    return ours && theirs && *ours != *theirs;
}

std::optional<std::string> flatpakApplicationId(pid_t process)
{
    const auto text = wholeFile(procEntry(process, "root/.flatpak-info"));
    if (!text)
        return std::nullopt;
    linux_gio::GKeyFilePtr keys(g_key_file_new());
    if (!g_key_file_load_from_data(keys.get(), text->data(), text->size(), G_KEY_FILE_NONE, nullptr))
        return std::nullopt;
    linux_gio::GTextPtr name(g_key_file_get_string(keys.get(), "Application", "name", nullptr));
    if (!name || !*name.get())
        return std::nullopt;
    return std::string(name.get());
}

std::optional<std::string> snapName(pid_t process)
{
    const auto text = wholeFile(procEntry(process, "cgroup"));
    return text ? snapNameInControlGroups(*text) : std::nullopt;
}

std::optional<std::string> snapNameInControlGroups(std::string_view controlGroups)
{
    // Each line is "ID:CONTROLLERS:PATH"; the snap's scope is the last
    // element of the path.
    std::size_t start = 0;
    while (start < controlGroups.size()) {
        auto end = controlGroups.find('\n', start);
        if (end == std::string_view::npos)
            end = controlGroups.size();
        const auto line = controlGroups.substr(start, end - start);
        start = end + 1;
        const auto leaf = line.substr(line.rfind('/') == std::string_view::npos ? 0 : line.rfind('/') + 1);
        if (!leaf.starts_with("snap."))
            continue;
        const auto rest = leaf.substr(5);
        const auto dot = rest.find('.');
        if (dot == std::string_view::npos)
            continue;
        const auto name = rest.substr(0, dot);
        if (isSnapName(name))
            return std::string(name);
    }
    return std::nullopt;
}

} // namespace platform::sandbox
