#include "platform/linux/bounded_path_walk.h"
#include "platform/linux/gobject_ptr.h"
#include "platform/linux/silent_mount_operation.h"
#include "platform/linux_platform.h"
#include "platform/server_volume_mounter.h"

#include <gio/gio.h>

#include <cerrno>
#include <chrono>
#include <memory>

namespace platform {
namespace {

using namespace std::chrono_literals;
using linux_gio::GObjectPtr;

// How long one mount may hold up the helper, whose clients all wait for it:
// long enough for a slow server's log-in, short enough that an unreachable
// one does not stall the service for minutes.
constexpr auto kMountBound = 30s;
// After the bound, how long GIO gets to report the cancelled call.
constexpr auto kCancelGrace = 5s;
// Right after a mount, GVfs's FUSE daemon may still hold a stale view of
// that server's mounts of its own: it answers I/O errors for the new folder
// until its threads have each found out. How often and how long we look again.
constexpr auto kSettleStep = 100ms;
constexpr int kSettleChecks = 20;

struct ErrorDeleter {
    void operator()(GError* error) const { g_error_free(error); }
};
using ErrorPtr = std::unique_ptr<GError, ErrorDeleter>;

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

gpointer retained(const AttemptRef& attempt) { return new AttemptRef(attempt); }

AttemptRef adopted(gpointer data)
{
    std::unique_ptr<AttemptRef> held(static_cast<AttemptRef*>(data));
    return *held;
}

void findRoot(const AttemptRef& attempt);

// A mount root still to be checked.
struct PendingCheck {
    AttemptRef attempt;
    std::string rootPath;
};

void checkRoot(const AttemptRef& attempt, const std::string& path);

// GIO keeps what it learnt of each mount for the life of the process (a
// fresh process asks gvfsd anew). It forgets a mount only when its own
// connection to that mount's daemon closes, which it hears on the context
// the connection was made on; GVfs 1.52 and later also when a call finds
// that daemon gone. News of unmounts does not reach it, and mounting and
// finding a mount talk to gvfsd alone, so without a call to the daemon a
// mount made anew under other settings (a WebDAV share found under another
// prefix, say) is answered with the old mount's folder for good.
void callMountDaemon(const AttemptRef& attempt, std::string rootPath)
{
    g_file_query_info_async(
        attempt->file.get(), G_FILE_ATTRIBUTE_STANDARD_TYPE, G_FILE_QUERY_INFO_NONE, G_PRIORITY_DEFAULT,
        attempt->cancellable.get(),
        [](GObject* source, GAsyncResult* result, gpointer data) {
            std::unique_ptr<PendingCheck> pending(static_cast<PendingCheck*>(data));
            // Only the connection matters, not what the call answered.
            GObjectPtr<GFileInfo> info(g_file_query_info_finish(G_FILE(source), result, nullptr));
            checkRoot(pending->attempt, pending->rootPath);
        },
        new PendingCheck { attempt, std::move(rootPath) });
}

void checkRootLater(const AttemptRef& attempt, const std::string& path)
{
    GSource* timer = g_timeout_source_new(static_cast<guint>(kSettleStep.count()));
    g_source_set_callback(
        timer,
        [](gpointer data) {
            auto* pending = static_cast<PendingCheck*>(data);
            checkRoot(pending->attempt, pending->rootPath);
            return G_SOURCE_REMOVE;
        },
        new PendingCheck { attempt, path }, [](gpointer data) { delete static_cast<PendingCheck*>(data); });
    g_source_attach(timer, g_main_context_get_thread_default());
    g_source_unref(timer);
}

// A folder GIO names is answered only when it is there.
void checkRoot(const AttemptRef& attempt, const std::string& path)
{
    if (attempt->finished)
        return;
    using Status = linux_files::PathReference::Status;
    auto reference = linux_files::openPathReference(path);
    if (reference.status == Status::opened)
        return attempt->succeed(path.c_str());
    if (reference.status == Status::timedOut)
        return attempt->fail();
    if (reference.error == EIO && ++attempt->settleChecks <= kSettleChecks)
        return checkRootLater(attempt, path);
    if (attempt->mountsRefreshed)
        return attempt->fail();
    // The call before the check may have made GIO forget the mount just now.
    attempt->mountsRefreshed = true;
    findRoot(attempt);
}

void rootFound(GObject* source, GAsyncResult* result, gpointer data)
{
    auto attempt = adopted(data);
    GObjectPtr<GMount> mount(g_file_find_enclosing_mount_finish(G_FILE(source), result, nullptr));
    if (!mount)
        return attempt->fail();
    GObjectPtr<GFile> root(g_mount_get_root(mount.get()));
    std::unique_ptr<char, decltype(&g_free)> path(g_file_get_path(root.get()), &g_free);
    if (!path)
        return attempt->fail();
    callMountDaemon(attempt, path.get());
}

void findRoot(const AttemptRef& attempt)
{
    g_file_find_enclosing_mount_async(attempt->file.get(), G_PRIORITY_DEFAULT, attempt->cancellable.get(), rootFound,
        retained(attempt));
}

void mounted(GObject* source, GAsyncResult* result, gpointer data)
{
    auto attempt = adopted(data);
    GError* raw = nullptr;
    g_file_mount_enclosing_volume_finish(G_FILE(source), result, &raw);
    ErrorPtr error(raw);
    if (error && !g_error_matches(error.get(), G_IO_ERROR, G_IO_ERROR_ALREADY_MOUNTED))
        return attempt->fail();
    findRoot(attempt);
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
