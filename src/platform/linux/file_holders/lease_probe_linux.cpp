#include "platform/linux/common/owned_descriptor.h"
#include "platform/linux/file_holders/lease_probe.h"

#include <fcntl.h>

#include <cerrno>
#include <csignal>
#include <mutex>
#include <string>

namespace platform::linux_files {
namespace {

// Someone opening the file while we hold the lease makes the kernel signal
// us that it is being broken; SIGIO would end the helper.
void ignoreLeaseBreakSignals()
{
    static std::once_flag once;
    std::call_once(once, [] { std::signal(SIGIO, SIG_IGN); });
}

// The same inode, opened for reading through our own descriptor's link, so
// nothing can swap another file in between. Non-blocking: an open that
// would break someone else's lease fails at once instead of waiting for it
// to be given up, and a FIFO swapped in cannot block either.
OwnedDescriptor openForLease(int pathReference)
{
    auto link = "/proc/self/fd/" + std::to_string(pathReference);
    constexpr int kReadFlags = O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC;
    OwnedDescriptor opened(open(link.c_str(), kReadFlags | O_NOATIME));
    if (!opened.isValid() && errno == EPERM) // O_NOATIME is only for the owner
        opened = OwnedDescriptor(open(link.c_str(), kReadFlags));
    return opened;
}

} // namespace

OtherOpens probeOtherOpens(int pathReference)
{
    ignoreLeaseBreakSignals();
    auto file = openForLease(pathReference);
    if (!file.isValid())
        return errno == EWOULDBLOCK ? OtherOpens::some : OtherOpens::cannotTell;
    // Given back at once: while we hold it, anyone opening the file waits.
    if (fcntl(file.get(), F_SETLEASE, F_WRLCK) == 0) {
        fcntl(file.get(), F_SETLEASE, F_UNLCK);
        return OtherOpens::none;
    }
    // EACCES: not the user's file; EINVAL: no leases on this file system,
    // or leases are switched off; ENOLCK: none to be had.
    return errno == EAGAIN ? OtherOpens::some : OtherOpens::cannotTell;
}

} // namespace platform::linux_files
