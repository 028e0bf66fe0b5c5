#include "platform/linux_platform.h"
#include "platform/server_volume_mounter.h"

#include <gio/gio.h>

#include <chrono>
#include <memory>

namespace platform {
namespace {

using namespace std::chrono_literals;

// How long one mount may hold up the helper, whose clients all wait for it:
// long enough for a slow server's log-in, short enough that an unreachable
// one does not stall the service for minutes.
constexpr auto kMountBound = 30s;
// After the bound, how long GIO gets to report the cancelled call.
constexpr auto kCancelGrace = 5s;

template<typename T>
struct GObjectDeleter {
    void operator()(T* object) const { g_object_unref(object); }
};
template<typename T>
using GObjectPtr = std::unique_ptr<T, GObjectDeleter<T>>;

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
    attempt->succeed(path.get());
}

void mounted(GObject* source, GAsyncResult* result, gpointer data)
{
    auto attempt = adopted(data);
    GError* raw = nullptr;
    g_file_mount_enclosing_volume_finish(G_FILE(source), result, &raw);
    ErrorPtr error(raw);
    if (error && !g_error_matches(error.get(), G_IO_ERROR, G_IO_ERROR_ALREADY_MOUNTED))
        return attempt->fail();
    g_file_find_enclosing_mount_async(attempt->file.get(), G_PRIORITY_DEFAULT, attempt->cancellable.get(), rootFound,
        retained(attempt));
}

// Nobody is there to answer: a server that wants a user name, a password or
// a decision (an unknown host key, say) does not get mounted.
void refusePassword(GMountOperation* operation, gchar*, gchar*, gchar*, GAskPasswordFlags, gpointer)
{
    g_mount_operation_reply(operation, G_MOUNT_OPERATION_ABORTED);
}

void refuseQuestion(GMountOperation* operation, gchar*, gchar**, gpointer)
{
    g_mount_operation_reply(operation, G_MOUNT_OPERATION_ABORTED);
}

GObjectPtr<GMountOperation> silentMountOperation()
{
    GObjectPtr<GMountOperation> operation(g_mount_operation_new());
    g_signal_connect(operation.get(), "ask-password", G_CALLBACK(refusePassword), nullptr);
    g_signal_connect(operation.get(), "ask-question", G_CALLBACK(refuseQuestion), nullptr);
    return operation;
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
    std::optional<std::string> mountServerVolume(const std::string& url) override
    {
        if (url.find('\0') != std::string::npos)
            return std::nullopt;
        // A context of our own keeps the main thread's loop out of it and
        // lets this thread wait for GIO's answers.
        GMainContext* context = g_main_context_new();
        g_main_context_push_thread_default(context);
        auto attempt = std::make_shared<MountAttempt>();
        attempt->file.reset(g_file_new_for_uri(url.c_str()));
        auto operation = silentMountOperation();
        g_file_mount_enclosing_volume(attempt->file.get(), G_MOUNT_MOUNT_NONE, operation.get(), attempt->cancellable.get(),
            mounted, retained(attempt));
        iterateUntilFinished(context, *attempt, kMountBound);
        if (!attempt->finished) {
            g_cancellable_cancel(attempt->cancellable.get());
            iterateUntilFinished(context, *attempt, kCancelGrace);
        }
        g_main_context_pop_thread_default(context);
        g_main_context_unref(context);
        return attempt->finished ? attempt->rootPath : std::nullopt;
    }
};

} // namespace

std::unique_ptr<ServerVolumeMounter> makeServerVolumeMounter() { return std::make_unique<GioServerVolumeMounter>(); }

} // namespace platform
