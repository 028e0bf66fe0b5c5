#pragma once

#include "platform/linux/volume_mounting/gio_mount_attempt.h"

namespace platform::linux_gio {

// Finds the root folder of the mount holding the attempt's file and finishes
// the attempt with it, but only with a folder that is there: never with one
// that GIO remembers from a mount gone since.
void findCheckedRoot(const AttemptRef& attempt);

} // namespace platform::linux_gio
