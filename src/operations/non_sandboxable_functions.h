#pragma once

#include "operations/operations_platform.h"

#include <concepts>
#include <cstdint>
#include <optional>
#include <string>

// The privileged operations the sandboxed application cannot perform itself,
// in the order they are declared. Each is a class operation: no instance, no
// state beyond what the operation itself names. Operations that touch the
// system take the platform services first.
// clang-format 14 and later versions lay requires-expressions out
// differently; this one is kept as written.
// clang-format off
template<typename Functions>
concept NonSandboxableFunctionsProtocol = requires(OperationsPlatform& platform, const std::string& text, std::uint32_t eventID) {
    { Functions::helperVersion() } -> std::same_as<std::string>;
    { Functions::getVolumeMountURL(platform, text) } -> std::same_as<std::optional<std::string>>;
    { Functions::terminateProcessNamed(platform, text) } -> std::same_as<bool>;
    { Functions::SendAppleEvent(platform, eventID, text) } -> std::same_as<bool>;
    { Functions::SendAppleEventToSystemProcess(platform, eventID) } -> std::same_as<std::int32_t>;
    { Functions::sleepSystem(platform) } -> std::same_as<bool>;
    { Functions::shutdownSystem(platform) } -> std::same_as<bool>;
    { Functions::allowSystemSleep(platform) } -> std::same_as<bool>;
    { Functions::preventSystemSleep(platform) } -> std::same_as<bool>;
    { Functions::detectVLCAvailable(platform) } -> std::same_as<bool>;
    { Functions::launchVLCPreview(platform, text) } -> std::same_as<bool>;
    { Functions::makeFrontProcessNamed(platform, text) } -> std::same_as<bool>;
    { Functions::mountVolumeWithMountURL(platform, text) } -> std::same_as<std::optional<std::string>>;
    { Functions::compareVersion(text, text) } -> std::same_as<std::int32_t>;
    { Functions::fileBusy(platform, text) } -> std::same_as<bool>;
};
// clang-format on

class NonSandboxableFunctions {
public:
    NonSandboxableFunctions() = delete;

    // Never answers: the version is the command service's to give. Throws a
    // NamedException "Illegal call on class".
    [[noreturn]] static std::string helperVersion();

    // The URL of the server volume that holds `path`. Nothing for a path
    // that names no existing item, and for a local volume: only a server
    // volume has a URL worth handing out.
    static std::optional<std::string> getVolumeMountURL(OperationsPlatform& platform, const std::string& path);

    // Applications are named by their display name, exactly and with case.

    // Asks the first running application of that name to quit; false when
    // none runs.
    static bool terminateProcessNamed(OperationsPlatform& platform, const std::string& name);

    // Sends the core event `eventID` to every running application of that
    // name. True when one runs, whether or not the event could be sent.
    static bool SendAppleEvent(OperationsPlatform& platform, std::uint32_t eventID, const std::string& name);

    // The idle-sleep assertion the helper holds, kNoAssertion when none. It
    // lives as long as the process: no command but allowSystemSleep gives it
    // back (an orderly end of the process hands it back at the platform).
    static constexpr std::uint32_t kNoAssertion = 0xFFFFFFFF;
    static inline std::uint32_t preventSleepAssertionID = kNoAssertion;

    // Delivers a core event to the system process: 0 when delivered, else
    // the failure's status.
    static std::int32_t SendAppleEventToSystemProcess(OperationsPlatform& platform, std::uint32_t eventID);
    // Both answer true when the request could NOT be delivered.
    static bool sleepSystem(OperationsPlatform& platform);
    static bool shutdownSystem(OperationsPlatform& platform);
    // True: no assertion is held afterwards, even when giving it back failed.
    static bool allowSystemSleep(OperationsPlatform& platform);
    // True when an assertion is held afterwards; at most one is ever held.
    static bool preventSystemSleep(OperationsPlatform& platform);

    // Whether the media player's program is in its place.
    static bool detectVLCAvailable(OperationsPlatform& platform);

    // Starts a new media player on `path` and brings it forward once it
    // shows up. False, at once, when the player cannot be started.
    // `passedFile`: the file already open, which the player is given with
    // the path that names it (see ProcessLauncher), or -1.
    static bool launchVLCPreview(OperationsPlatform& platform, const std::string& path, int passedFile = -1);

    // Activates every running application of that name with all its
    // windows, waiting for one to appear for up to 10 attempts half a second
    // apart. False when none appeared.
    static bool makeFrontProcessNamed(OperationsPlatform& platform, const std::string& name);

    // Mounts the server volume `mountURL` names, without asking for
    // credentials, and answers the path of its root folder; a volume already
    // mounted answers where it is. Nothing when the URL is empty, or the
    // volume cannot be mounted.
    static std::optional<std::string> mountVolumeWithMountURL(OperationsPlatform& platform, const std::string& mountURL);

    // Dotted versions component by component, each by its leading decimal
    // value: -1, 0 or 1 as `first` is older, the same, or newer. When one
    // runs out of components first with all compared ones equal, the longer
    // one is the newer (1.2.1 > 1.2).
    static std::int32_t compareVersion(const std::string& first, const std::string& second);

    // Whether some process other than the file browsers has `path` open. When
    // the system cannot be asked, an existing non-directory counts as busy.
    static bool fileBusy(OperationsPlatform& platform, const std::string& path);
};

static_assert(NonSandboxableFunctionsProtocol<NonSandboxableFunctions>);
