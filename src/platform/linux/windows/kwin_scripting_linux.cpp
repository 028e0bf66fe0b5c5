#include "platform/linux/windows/kwin_scripting.h"

#include "platform/linux/common/bus_names.h"
#include "platform/linux/common/owned_descriptor.h"

#include <fcntl.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <optional>

namespace platform::kwin {

namespace {

constexpr const char* kService = "org.kde.KWin";
constexpr const char* kScriptingInterface = "org.kde.kwin.Scripting";
constexpr const char* kScriptInterface = "org.kde.kwin.Script";
// One name for every request: a script left behind by one that failed half
// way is unloaded by the next.
constexpr const char* kPluginName = "ferrowind-activate-windows";

// KWin reads the script from a file; ours lives only while KWin loads it.
class ScriptFile {
public:
    explicit ScriptFile(const std::string& text)
    {
        const char* runtime = std::getenv("XDG_RUNTIME_DIR");
        std::string pattern = std::string(runtime && *runtime == '/' ? runtime : "/tmp") + "/ferrowind-kwin-XXXXXX.js";
        linux_files::OwnedDescriptor file(mkostemps(pattern.data(), 3, O_CLOEXEC));
        if (!file.isValid())
            return;
        m_path = pattern;
        m_written = write(file.get(), text.data(), text.size()) == static_cast<ssize_t>(text.size());
    }
    ~ScriptFile()
    {
        if (!m_path.empty())
            unlink(m_path.c_str());
    }
    ScriptFile(const ScriptFile&) = delete;
    ScriptFile& operator=(const ScriptFile&) = delete;

    std::optional<std::string> path() const { return m_written ? std::optional(m_path) : std::nullopt; }

private:
    std::string m_path;
    bool m_written { false };
};

using linux_dbus::CallOutcome;
using Clock = std::chrono::steady_clock;

// One request, however many calls it takes, holds the caller for at most one
// call's bound: a KWin that answers each just in time would otherwise hold
// it for several.
class Request {
public:
    explicit Request(linux_dbus::BusConnection& bus)
        : m_bus(bus)
    {
    }

    linux_dbus::Reply call(const char* path, const char* interface, const char* method, GVariant* parameters,
        const GVariantType* replyType)
    {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(m_deadline - Clock::now());
        if (left <= std::chrono::milliseconds::zero()) {
            g_variant_unref(g_variant_ref_sink(parameters));
            return { CallOutcome::TimedOut, nullptr, nullptr };
        }
        return m_bus.call({ kService, path, interface, method }, parameters, replyType, left);
    }

    linux_dbus::Reply callScripting(const char* method, GVariant* parameters, const GVariantType* replyType)
    {
        return call("/Scripting", kScriptingInterface, method, parameters, replyType);
    }

private:
    linux_dbus::BusConnection& m_bus;
    const Clock::time_point m_deadline { Clock::now() + linux_dbus::kBound };
};

CallOutcome unload(Request& request)
{
    return request.callScripting("unloadScript", g_variant_new("(s)", kPluginName), G_VARIANT_TYPE("(b)")).outcome;
}

// Plasma 6 puts a loaded script at /Scripting/Script<id>, Plasma 5 at /<id>;
// the one that is not there answers at once.
CallOutcome run(Request& request, std::int32_t id)
{
    auto outcome = CallOutcome::Refused;
    for (const auto& path : { "/Scripting/Script" + std::to_string(id), "/" + std::to_string(id) }) {
        outcome = request.call(path.c_str(), kScriptInterface, "run", g_variant_new("()"), G_VARIANT_TYPE("()")).outcome;
        if (outcome != CallOutcome::Refused)
            break;
    }
    return outcome;
}

} // namespace

std::string activationScript(ProcessID process)
{
    return "(function () {\n"
           "    const process = "
        + std::to_string(process)
        + ";\n"
          "    const all = workspace.windowList ? workspace.windowList() : workspace.clientList();\n"
          "    const windows = all.filter(w => w.pid === process && w.normalWindow)\n"
          "        .sort((a, b) => a.stackingOrder - b.stackingOrder);\n"
          "    for (const w of windows) {\n"
          "        w.minimized = false;\n"
          "        if (workspace.activeWindow !== undefined)\n"
          "            workspace.activeWindow = w;\n"
          "        else\n"
          "            workspace.activeClient = w;\n"
          "    }\n"
          "})();\n";
}

bool runs(linux_dbus::BusConnection& sessionBus) { return linux_dbus::nameHasOwner(sessionBus, kService); }

bool activateWindowsOf(linux_dbus::BusConnection& sessionBus, ProcessID process)
{
    const ScriptFile script(activationScript(process));
    const auto path = script.path();
    if (!path)
        return false;
    // A KWin that lets the request's time run out is asked nothing more in
    // it; a script left loaded is unloaded by the next request.
    Request request(sessionBus);
    if (unload(request) == CallOutcome::TimedOut)
        return false;
    auto loaded = request.callScripting("loadScript", g_variant_new("(ss)", path->c_str(), kPluginName), G_VARIANT_TYPE("(i)"));
    if (loaded.outcome != CallOutcome::Replied)
        return false;
    std::int32_t id = -1;
    g_variant_get(loaded.body.get(), "(i)", &id);
    const auto ran = id >= 0 ? run(request, id) : CallOutcome::Refused;
    if (ran != CallOutcome::TimedOut)
        unload(request);
    return ran == CallOutcome::Replied;
}

} // namespace platform::kwin
