#pragma once

// Which sandbox a process of the user runs in, as far as the kernel and the
// sandbox's own files tell.

#include <sys/types.h>

#include <optional>
#include <string>
#include <string_view>

namespace platform::sandbox {

// Whether `process` sees another file system tree than this process: its
// mount namespace differs from ours. Flatpak, Snap, toolbox and podman
// processes all do; ordinary processes of the session do not. False when
// the process is gone or its namespace cannot be read.
bool inOtherMountNamespace(pid_t process);

// The application id Flatpak wrote into the sandbox of `process`
// ("[Application] name=" of /.flatpak-info), read through the process's
// own root. Nothing for a process outside a Flatpak sandbox.
std::optional<std::string> flatpakApplicationId(pid_t process);

// The snap a strictly confined process belongs to, from the name of its
// control group ("snap.NAME.APP-….scope" or "snap.NAME.APP"). Nothing for a
// process outside a snap.
std::optional<std::string> snapName(pid_t process);
// The same from the text of /proc/PID/cgroup.
std::optional<std::string> snapNameInControlGroups(std::string_view controlGroups);

} // namespace platform::sandbox
