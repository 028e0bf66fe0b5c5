#pragma once

#include "platform/linux/common/gobject_ptr.h"

#include <gio/gio.h>

#include <memory>
#include <optional>
#include <string>

namespace platform::linux_gio {

// One mount in progress. The callbacks each hold a reference, so a callback
// that arrives after we gave up still finds it alive.
struct MountAttempt {
    GObjectPtr<GFile> file;
    GObjectPtr<GCancellable> cancellable { g_cancellable_new() };
    bool finished { false };
    bool mountsRefreshed { false };
    int settleChecks { 0 };
    std::optional<std::string> rootPath;

    void fail() { finished = true; }
    void succeed(const char* path)
    {
        finished = true;
        rootPath.emplace(path);
    }
};
using AttemptRef = std::shared_ptr<MountAttempt>;

// A reference for a GIO callback's user data, and the callback's taking it
// back.
inline gpointer retained(const AttemptRef& attempt) { return new AttemptRef(attempt); }

inline AttemptRef adopted(gpointer data)
{
    std::unique_ptr<AttemptRef> held(static_cast<AttemptRef*>(data));
    return *held;
}

} // namespace platform::linux_gio
