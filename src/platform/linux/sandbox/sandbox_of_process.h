#pragma once

// Which sandbox a process of the user runs in, as far as the kernel and the
// sandbox's own files tell. Those files lie in a root the process controls,
// so they are read as what they must be (a small regular file in memory),
// never followed out of that root, and never waited on for long.

#include "platform/client_process.h"
#include "platform/linux/kernel_tables/process_directory.h"
#include "platform/linux/sandbox/flatpak_info.h"

#include <sys/types.h>

#include <optional>
#include <string>
#include <string_view>

namespace platform::sandbox {

using procfs::ProcessDirectory;
using procfs::ProcessStatus;

// Whether `process` sees another file system tree than this process: its
// mount namespace differs from ours. Flatpak, Snap, toolbox and podman
// processes all do; ordinary processes of the session do not. False when
// the process is gone or its namespace cannot be read.
bool inOtherMountNamespace(pid_t process);
bool inOtherMountNamespace(const ProcessDirectory& process);

// What a file that says which sandbox a root belongs to amounts to.
struct SandboxFile {
    enum class State {
        absent,
        // `text` holds it.
        read,
        // Something stands at its place that is not such a file, or could
        // not be read in time: a lie, or a broken sandbox.
        untrustworthy,
        // The process's root could not be entered: it has gone, or it is
        // not ours to look into.
        rootUnreachable,
    };
    State state { State::absent };
    std::string text;
};

// /.flatpak-info in the root of `process`.
SandboxFile flatpakInfoOf(const ProcessDirectory& process);
// The application id Flatpak wrote into the sandbox of `process`. Nothing
// for a process outside a Flatpak sandbox, or whose file is untrustworthy.
std::optional<std::string> flatpakApplicationId(pid_t process);

// The sandbox of a process in another mount namespace than ours, from its
// own files and control group: its .flatpak-info, a snap's group, podman's
// /run/.containerenv (toolbox is podman); unidentified otherwise.
ClientProcess identityOf(const ProcessDirectory& process);

} // namespace platform::sandbox
