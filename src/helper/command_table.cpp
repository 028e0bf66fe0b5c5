#include "helper/command_row.h"
#include "helper/network_listener.h"
#include "operations/non_sandboxable_functions.h"
#include "updater/updater.h"

#include <span>

namespace {

// What a row may touch: the platform, the listener's two flags, and the
// command word itself, which restartIfUpdated can turn into "restart" for the
// rows after it.
struct CommandContext {
    HelperPlatform& platform;
    bool& restartHelper;
    bool& quitHelper;
    std::string& commandWord;
    const platform::ClientProcess& client;
};

using PathStatus = platform::ClientPath::Status;

// A path as the client means it: a sandboxed client names files as its
// sandbox shows them, and the document portal lends it host files.
platform::ClientPath reach(CommandContext& context, const std::string& path)
{
    return context.platform.clientPaths.reach(context.client, path);
}

// A row that hands a path on needs a text; an integer in its place names no
// file and answers false without touching the system.
const std::string* textOf(const Parameter& parameter) { return std::get_if<std::string>(&parameter); }

// A file the client cannot reach is held by nobody it could mean; one on a
// server that does not answer cannot be shown to be free.
CommandResult fileBusy(CommandContext& context, Parameter path)
{
    auto const* text = textOf(path);
    if (!text)
        return truthValue(false);
    const auto file = reach(context, *text);
    if (file.status != PathStatus::reached)
        return truthValue(file.status == PathStatus::unreachable);
    return truthValue(NonSandboxableFunctions::fileBusy(context.platform.operations, file.path));
}

// Event identifiers travel as signed integers; the bits are the code.
CommandResult SendAppleEventToSystemProcess(CommandContext& context, std::int32_t eventID)
{
    auto code = static_cast<std::uint32_t>(eventID);
    return truthValue(NonSandboxableFunctions::SendAppleEventToSystemProcess(context.platform.operations, code) != 0);
}

CommandResult sleepSystem(CommandContext& context) { return truthValue(NonSandboxableFunctions::sleepSystem(context.platform.operations)); }

CommandResult shutdownSystem(CommandContext& context)
{
    return truthValue(NonSandboxableFunctions::shutdownSystem(context.platform.operations));
}

CommandResult allowSystemSleep(CommandContext& context)
{
    return truthValue(NonSandboxableFunctions::allowSystemSleep(context.platform.operations));
}

CommandResult preventSystemSleep(CommandContext& context)
{
    return truthValue(NonSandboxableFunctions::preventSystemSleep(context.platform.operations));
}

// Applications and media files are named by text; an integer in their
// place names nothing, so nothing is asked of the system.
CommandResult terminateProcessNamed(CommandContext& context, Parameter name)
{
    auto const* text = textOf(name);
    return truthValue(text && NonSandboxableFunctions::terminateProcessNamed(context.platform.operations, *text));
}

CommandResult sendAppleEvent(CommandContext& context, std::int32_t eventID, Parameter name)
{
    auto const* text = textOf(name);
    return truthValue(text
        && NonSandboxableFunctions::SendAppleEvent(context.platform.operations, static_cast<std::uint32_t>(eventID), *text));
}

CommandResult detectVLCAvailable(CommandContext& context)
{
    return truthValue(NonSandboxableFunctions::detectVLCAvailable(context.platform.operations));
}

CommandResult launchVLCPreview(CommandContext& context, Parameter path)
{
    auto const* text = textOf(path);
    if (!text)
        return truthValue(false);
    // A sandbox's file that could not be reached here has no name a player
    // could safely be given.
    const auto file = reach(context, *text);
    return truthValue(file.pathForPrograms
        && NonSandboxableFunctions::launchVLCPreview(context.platform.operations, *file.pathForPrograms, file.fileForPrograms));
}

CommandResult makeFrontProcessNamed(CommandContext& context, Parameter name)
{
    auto const* text = textOf(name);
    return truthValue(text && NonSandboxableFunctions::makeFrontProcessNamed(context.platform.operations, *text));
}

CommandResult textOrNothing(std::optional<std::string> text)
{
    if (text)
        return std::move(*text);
    return std::monostate {};
}

// A path or URL given as an integer names nothing: the answer is nothing,
// and the system is not asked.
CommandResult getVolumeMountURL(CommandContext& context, Parameter path)
{
    auto const* text = textOf(path);
    const auto file = text ? reach(context, *text) : platform::ClientPath {};
    if (file.status != PathStatus::reached)
        return std::monostate {};
    return textOrNothing(NonSandboxableFunctions::getVolumeMountURL(context.platform.operations, file.path));
}

CommandResult mountVolumeWithMountURL(CommandContext& context, Parameter mountURL)
{
    auto const* text = textOf(mountURL);
    return text ? textOrNothing(NonSandboxableFunctions::mountVolumeWithMountURL(context.platform.operations, *text))
                : std::monostate {};
}

constexpr std::string_view kShortVersionKey = "CFBundleShortVersionString";

CommandResult version(CommandContext& context)
{
    if (auto running = context.platform.mainBundle.info.string(kShortVersionKey))
        return *running;
    return std::monostate {};
}

// The version we were started with against the one on disk now; anything but
// the same text on both sides means a new copy was put in place.
CommandResult restartIfUpdated(CommandContext& context)
{
    auto const& bundle = context.platform.mainBundle;
    auto running = bundle.info.string(kShortVersionKey);
    std::optional<std::string> onDisk;
    if (auto info = platform::readInfoDictionary(bundle.infoPlistPath()))
        onDisk = info->string(kShortVersionKey);
    if (!running || !onDisk || *running != *onDisk)
        context.commandWord = "restart";
    return truthValue(true);
}

// The updater belongs to the main thread; the check must not hold up the
// clients of this one.
CommandResult checkUpdate(CommandContext& context)
{
    context.platform.mainRunLoop.post([&platform = context.platform] { platform.sharedUpdater().checkForUpdatesInBackground(); });
    return std::int32_t { 1 };
}

CommandResult restart(CommandContext& context)
{
    context.restartHelper = true;
    return std::int32_t { 1 };
}

CommandResult quit(CommandContext& context)
{
    context.quitHelper = true;
    return std::int32_t { 1 };
}

// Rows are tested in this order and every row is tested, so restartIfUpdated
// hands over to restart below it.
std::span<const CommandRow<CommandContext>> commandTable()
{
    static const CommandRow<CommandContext> table[] {
        { "fileBusy", withParameters(&fileBusy) },
        { "getVolumeMountURL", withParameters(&getVolumeMountURL) },
        { "terminateProcessNamed", withParameters(&terminateProcessNamed) },
        { "SendAppleEvent", withParameters(&sendAppleEvent) },
        { "SendAppleEventToSystemProcess", withParameters(&SendAppleEventToSystemProcess) },
        { "sleepSystem", withParameters(&sleepSystem) },
        { "shutdownSystem", withParameters(&shutdownSystem) },
        { "allowSystemSleep", withParameters(&allowSystemSleep) },
        { "preventSystemSleep", withParameters(&preventSystemSleep) },
        { "detectVLCAvailable", withParameters(&detectVLCAvailable) },
        { "launchVLCPreview", withParameters(&launchVLCPreview) },
        { "makeFrontProcessNamed", withParameters(&makeFrontProcessNamed) },
        { "mountVolumeWithMountURL", withParameters(&mountVolumeWithMountURL) },
        { "version", withParameters(&version) },
        { "restartIfUpdated", withParameters(&restartIfUpdated) },
        { "checkUpdate", withParameters(&checkUpdate) },
        { "restart", withParameters(&restart) },
        { "quit", withParameters(&quit) },
    };
    return table;
}

} // namespace

CommandResult NetworkListener::executeCommand(std::string commandWord, const ParameterList& parameters)
{
    CommandContext context { m_platform, restartHelper, quitHelper, commandWord, m_currentClient };
    CommandResult result;
    for (auto const& row : commandTable()) {
        if (row.word == commandWord)
            result = row.perform(context, parameters);
    }
    return result;
}
