#pragma once

#include "platform/linux/common/gobject_ptr.h"

#include <gio/gio.h>

namespace platform::linux_gio {

// A mount operation for mounts that nobody is there to answer. A server that
// offers anonymous access (a guest share) is answered anonymously, once: it
// asks again only when it refused that. Every request that needs a user
// name, a password or a decision (an unknown host key, say) is aborted.
GObjectPtr<GMountOperation> silentMountOperation();

} // namespace platform::linux_gio
