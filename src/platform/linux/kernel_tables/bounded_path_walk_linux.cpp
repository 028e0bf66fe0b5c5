#include "platform/linux/kernel_tables/bounded_path_walk.h"
#include "platform/linux/kernel_tables/stuck_walks.h"
#include "platform/signal_stack.h"

#include <fcntl.h>
#include <linux/openat2.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <optional>
#include <string_view>
#include <system_error>
#include <thread>
#include <vector>

namespace platform::linux_files {
namespace {

using Status = PathReference::Status;

PathReference failedWith(int error) { return { Status::failed, OwnedDescriptor(), error }; }
PathReference timedOut() { return { Status::timedOut, OwnedDescriptor(), 0 }; }

// Resolves `path` from the kernel's caches alone, never asking a file
// system: a component that would need a lookup or a revalidation makes it
// fail with EAGAIN instead.
std::uint64_t confined(int root, Confinement confinement)
{
    static_assert(kHostRoot == AT_FDCWD);
    if (root == AT_FDCWD)
        return 0;
    return RESOLVE_NO_MAGICLINKS | (confinement == Confinement::beneath ? RESOLVE_BENEATH : RESOLVE_IN_ROOT);
}

OwnedDescriptor openInRoot(int root, const std::string& path, std::uint64_t resolve)
{
    open_how how {};
    how.flags = O_PATH | O_CLOEXEC;
    how.resolve = resolve;
    return OwnedDescriptor(static_cast<int>(syscall(SYS_openat2, root, path.c_str(), &how, sizeof how)));
}

OwnedDescriptor openFromCache(int root, const std::string& path, std::uint64_t confinement) { return openInRoot(root, path, RESOLVE_CACHED | confinement); }

// What the cache answers for sure: the same as a real walk would.
bool isFinalAnswer(int error)
{
    return error == ENOENT || error == ENOTDIR || error == EACCES || error == ENAMETOOLONG || error == ELOOP || error == EXDEV;
}

std::optional<dev_t> deviceOf(const OwnedDescriptor& descriptor)
{
    struct statx status = {};
    if (!cachedAttributes(descriptor.get(), 0, status))
        return std::nullopt;
    return makedev(status.stx_dev_major, status.stx_dev_minor);
}

// The first file system that a walk of `path` may wait on, for admitting the
// walk: the one holding the deepest folder on the way that the cache alone
// can reach. The walk may go on to others, and is charged to the one it
// stops on. Found without touching any file system, so a silent one cannot
// hold this up.
dev_t fileSystemAhead(int root, const std::string& path, std::uint64_t confinement)
{
    std::string_view rest = path;
    for (;;) {
        auto slash = rest.find_last_of('/');
        rest = slash == std::string_view::npos ? std::string_view(".") : rest.substr(0, std::max<std::size_t>(slash, 1));
        auto folder = openFromCache(root, std::string(rest), confinement);
        if (auto device = folder.isValid() ? deviceOf(folder) : std::nullopt)
            return *device;
        if (rest == "/" || rest == ".")
            return 0;
    }
}

// One walk on a thread of its own. Whoever is last to let go of it, the
// walker or the waiter, frees it, so a walk that outlives its waiter still
// finds it alive and its descriptor is closed when it ends.
struct Walk {
    std::mutex lock;
    std::condition_variable finished;
    bool done { false };
    bool abandoned { false };
    // The file system of the last folder reached: where a walk that stops
    // is waiting. The cache may know a shallower folder only.
    dev_t fileSystem { 0 };
    PathReference result;
};

// The path up to each of its components in turn ("/a/b/c": "/a", "/a/b"),
// without the path itself.
std::vector<std::string> leadingFolders(const std::string& path)
{
    std::vector<std::string> folders;
    for (auto slash = path.find('/', 1); slash != std::string::npos; slash = path.find('/', slash + 1))
        if (path[slash - 1] != '/')
            folders.push_back(path.substr(0, slash));
    return folders;
}

void finish(Walk& state, PathReference result)
{
    std::lock_guard hold(state.lock);
    state.done = true;
    state.result = std::move(result);
    if (state.abandoned)
        stuckWalks().release(state.fileSystem);
    state.finished.notify_all();
}

// Notes the file system of a folder the walk reached; false when a walk is
// stuck on it already, which this one would only join.
bool reachedFileSystem(Walk& state, dev_t fileSystem)
{
    std::lock_guard hold(state.lock);
    // An abandoned walk was charged to where it was then; so it stays.
    if (state.abandoned || fileSystem == state.fileSystem)
        return true;
    if (!stuckWalks().admits(fileSystem))
        return false;
    state.fileSystem = fileSystem;
    return true;
}

// Folder by folder, so that the file system of each is known before the
// walk asks it about the next name. The path itself is opened whole, so its
// answer is exactly that of a single walk.
void walk(const std::shared_ptr<Walk>& state, const OwnedDescriptor& root, const std::string& path, std::uint64_t confinement)
{
    const int from = root.isValid() ? root.get() : AT_FDCWD;
    for (const auto& folder : leadingFolders(path)) {
        auto reached = openInRoot(from, folder, confinement);
        auto device = reached.isValid() ? deviceOf(reached) : std::nullopt;
        if (!device)
            break;
        if (!reachedFileSystem(*state, *device))
            return finish(*state, timedOut());
    }
    OwnedDescriptor descriptor = openInRoot(from, path, confinement);
    int error = errno;
    finish(*state, descriptor.isValid() ? PathReference { Status::opened, std::move(descriptor), 0 } : failedWith(error));
}

PathReference walkWithinBound(int root, const std::string& path, std::uint64_t confinement)
{
    auto state = std::make_shared<Walk>();
    state->fileSystem = fileSystemAhead(root, path, confinement);
    if (!stuckWalks().admits(state->fileSystem))
        return timedOut();
    // The walk may outlive the caller's descriptor of the root.
    auto ownRoot = std::make_shared<OwnedDescriptor>(root == AT_FDCWD ? -1 : fcntl(root, F_DUPFD_CLOEXEC, 0));
    if (root != AT_FDCWD && !ownRoot->isValid())
        return failedWith(errno);
    try {
        std::thread([state, ownRoot, path, confinement] {
            giveThreadASignalStack();
            walk(state, *ownRoot, path, confinement);
        }).detach();
    } catch (const std::system_error&) {
        return timedOut(); // walking here instead could hold the caller for good
    }
    std::unique_lock hold(state->lock);
    if (!state->finished.wait_for(hold, kPathWalkBound, [&] { return state->done; })) {
        state->abandoned = true;
        stuckWalks().hold(state->fileSystem);
        return timedOut();
    }
    return std::move(state->result);
}

} // namespace

PathReference openPathReference(const std::string& path, int root, Confinement confinement)
{
    // A C string ends at the first NUL: such a name would stand for another.
    if (path.find('\0') != std::string::npos)
        return failedWith(EINVAL);
    const auto limits = confined(root, confinement);
    auto cached = openFromCache(root, path, limits);
    if (cached.isValid())
        return { Status::opened, std::move(cached), 0 };
    if (isFinalAnswer(errno))
        return failedWith(errno);
    return walkWithinBound(root, path, limits);
}

bool fileSystemDidNotAnswer(const PathReference& reference)
{
    if (reference.status == Status::timedOut)
        return true;
    if (reference.status != Status::failed)
        return false;
    switch (reference.error) {
    case ENOTCONN: // the FUSE daemon or the network connection is gone
    case ECONNABORTED:
    case ECONNREFUSED:
    case ECONNRESET:
    case EHOSTDOWN:
    case EHOSTUNREACH:
    case ENETUNREACH:
    case ETIMEDOUT:
    case EIO:
        return true;
    default:
        return false;
    }
}

bool cachedAttributes(int descriptor, unsigned int mask, struct statx& status)
{
    return statx(descriptor, "", AT_EMPTY_PATH | AT_NO_AUTOMOUNT | AT_STATX_DONT_SYNC, mask, &status) == 0;
}

} // namespace platform::linux_files
