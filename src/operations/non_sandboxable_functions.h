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
template<typename Functions>
concept NonSandboxableFunctionsProtocol = requires(OperationsPlatform& platform, const std::string& text) {
    { Functions::helperVersion() } -> std::same_as<std::string>;
    { Functions::getVolumeMountURL(platform, text) } -> std::same_as<std::optional<std::string>>;
    { Functions::mountVolumeWithMountURL(platform, text) } -> std::same_as<std::optional<std::string>>;
    { Functions::compareVersion(text, text) } -> std::same_as<std::int32_t>;
    { Functions::fileBusy(platform, text) } -> std::same_as<bool>;
};

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
