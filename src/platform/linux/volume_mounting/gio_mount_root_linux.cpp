#include "platform/linux/kernel_tables/bounded_path_walk.h"
#include "platform/linux/volume_mounting/gio_mount_root.h"

#include <cerrno>
#include <chrono>

namespace platform::linux_gio {
namespace {

using namespace std::chrono_literals;

// Right after a mount, GVfs's FUSE daemon may still hold a stale view of
// that server's mounts of its own: it answers I/O errors for the new folder
// until its threads have each found out. How often and how long we look again.
constexpr auto kSettleStep = 100ms;
constexpr int kSettleChecks = 20;

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
    findCheckedRoot(attempt);
}

void rootFound(GObject* source, GAsyncResult* result, gpointer data)
{
    auto attempt = adopted(data);
    GObjectPtr<GMount> mount(g_file_find_enclosing_mount_finish(G_FILE(source), result, nullptr));
    if (!mount)
        return attempt->fail();
    GObjectPtr<GFile> root(g_mount_get_root(mount.get()));
    GTextPtr path(g_file_get_path(root.get()));
    if (!path)
        return attempt->fail();
    callMountDaemon(attempt, path.get());
}

} // namespace

void findCheckedRoot(const AttemptRef& attempt)
{
    g_file_find_enclosing_mount_async(attempt->file.get(), G_PRIORITY_DEFAULT, attempt->cancellable.get(), rootFound,
        retained(attempt));
}

} // namespace platform::linux_gio
