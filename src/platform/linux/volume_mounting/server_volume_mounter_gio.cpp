#include "platform/linux/volume_mounting/gio_mount_attempt.h"
#include "platform/linux/volume_mounting/gio_mount_root.h"
#include "platform/linux/volume_mounting/silent_mount_operation.h"
#include "platform/linux_platform.h"
#include "platform/server_volume_mounter.h"

#include <gio/gio.h>

#include <chrono>
#include <memory>

namespace platform {
namespace {

using namespace std::chrono_literals;
using linux_gio::adopted;
using linux_gio::AttemptRef;
using linux_gio::findCheckedRoot;
using linux_gio::MountAttempt;
using linux_gio::retained;

// How long one mount may hold up the helper, whose clients all wait for it:
// long enough for a slow server's log-in, short enough that an unreachable
// one does not stall the service for minutes.
constexpr auto kMountBound = 30s;
// After the bound, how long GIO gets to report the cancelled call.
constexpr auto kCancelGrace = 5s;

void mounted(GObject* source, GAsyncResult* result, gpointer data)
{
    auto attempt = adopted(data);
    GError* raw = nullptr;
    g_file_mount_enclosing_volume_finish(G_FILE(source), result, &raw);
    linux_gio::GErrorPtr error(raw);
    if (error && !g_error_matches(error.get(), G_IO_ERROR, G_IO_ERROR_ALREADY_MOUNTED))
        return attempt->fail();
    findCheckedRoot(attempt);
}

// Runs `context` until the attempt has finished or `bound` has passed.
void iterateUntilFinished(GMainContext* context, const MountAttempt& attempt, std::chrono::milliseconds bound)
{
    bool timedOut = false;
    GSource* timeout = g_timeout_source_new(static_cast<guint>(bound.count()));
    g_source_set_callback(
        timeout, [](gpointer flag) { *static_cast<bool*>(flag) = true; return G_SOURCE_REMOVE; }, &timedOut, nullptr);
    g_source_attach(timeout, context);
    while (!attempt.finished && !timedOut)
        g_main_context_iteration(context, TRUE);
    g_source_destroy(timeout);
    g_source_unref(timeout);
}

class GioServerVolumeMounter final : public ServerVolumeMounter {
public:
    ~GioServerVolumeMounter() override { g_main_context_unref(m_context); }

    std::optional<std::string> mountServerVolume(const std::string& url) override
    {
        if (url.find('\0') != std::string::npos)
            return std::nullopt;
        g_main_context_push_thread_default(m_context);
        auto attempt = std::make_shared<MountAttempt>();
        attempt->file.reset(g_file_new_for_uri(url.c_str()));
        auto operation = linux_gio::silentMountOperation();
        g_file_mount_enclosing_volume(attempt->file.get(), G_MOUNT_MOUNT_NONE, operation.get(), attempt->cancellable.get(),
            mounted, retained(attempt));
        iterateUntilFinished(m_context, *attempt, kMountBound);
        if (!attempt->finished) {
            g_cancellable_cancel(attempt->cancellable.get());
            iterateUntilFinished(m_context, *attempt, kCancelGrace);
        }
        g_main_context_pop_thread_default(m_context);
        return attempt->finished ? attempt->rootPath : std::nullopt;
    }

private:
    // A context of our own keeps the main thread's loop out of it and lets
    // this thread wait for GIO's answers. It lives as long as we do: GIO
    // reports there that a connection to a mount's daemon closed, which
    // makes it forget that mount, and a context nobody runs again would
    // keep that news from it forever.
    GMainContext* m_context { g_main_context_new() };
};

} // namespace

std::unique_ptr<ServerVolumeMounter> makeServerVolumeMounter() { return std::make_unique<GioServerVolumeMounter>(); }

} // namespace platform
