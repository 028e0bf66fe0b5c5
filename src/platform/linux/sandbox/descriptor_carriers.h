#pragma once

// Daemons that take descriptors from one process and hand them to another
// by design: the message buses (session and accessibility, dbus-daemon or
// dbus-broker) and the desktop portals. Any sandbox may send them a
// descriptor, so one of them holding a connection says nothing about who
// made it or who will speak through it: it is never evidence of a client.

#include "platform/linux/kernel_tables/process_directory.h"

#include <string_view>

namespace platform::sandbox {

// Whether a program of this file name is such a daemon.
bool carriesDescriptorsForOthers(std::string_view executableName);
bool carriesDescriptorsForOthers(const procfs::ProcessDirectory& process);

} // namespace platform::sandbox
