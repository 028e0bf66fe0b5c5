#include "platform/linux/sandbox/socket_holding.h"

#include <dirent.h>
#include <fcntl.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <cstdlib>
#include <string_view>

namespace platform::sandbox {

namespace {

using Result = SocketHolding::Result;

// How many descriptors are read between two looks at the clock.
constexpr int kDescriptorsBetweenClockReads = 256;

bool linkNames(int folder, const char* name, std::string_view socketLink)
{
    std::array<char, 64> target;
    const auto length = readlinkat(folder, name, target.data(), target.size());
    return length > 0 && std::string_view(target.data(), static_cast<std::size_t>(length)) == socketLink;
}

// The descriptor of `table` (a /proc/ID directory) that is the socket.
SocketHolding searchTable(int table, const std::string& socketLink, Deadline deadline, int likelyDescriptor)
{
    if (likelyDescriptor >= 0 && linkNames(table, ("fd/" + std::to_string(likelyDescriptor)).c_str(), socketLink))
        return { Result::holds, std::nullopt, likelyDescriptor };
    const int folder = openat(table, "fd", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (folder < 0)
        return { errno == EACCES || errno == EPERM ? Result::unreadable : Result::doesNotHold, std::nullopt, -1 };
    DIR* descriptors = fdopendir(folder);
    if (!descriptors) {
        close(folder);
        return { Result::doesNotHold, std::nullopt, -1 };
    }
    SocketHolding found;
    int untilClockRead = kDescriptorsBetweenClockReads;
    while (const dirent* entry = readdir(descriptors)) {
        if (--untilClockRead == 0) {
            untilClockRead = kDescriptorsBetweenClockReads;
            if (std::chrono::steady_clock::now() > deadline) {
                found.result = Result::timedOut;
                break;
            }
        }
        if (entry->d_name[0] != '.' && linkNames(folder, entry->d_name, socketLink)) {
            found = { Result::holds, std::nullopt, std::atoi(entry->d_name) };
            break;
        }
    }
    closedir(descriptors);
    return found;
}

} // namespace

bool holdsAt(const ProcessDirectory& process, int descriptor, const std::string& socketLink)
{
    return descriptor >= 0 && linkNames(process.descriptor(), ("fd/" + std::to_string(descriptor)).c_str(), socketLink);
}

std::string socketLinkOf(std::uint64_t inode) { return "socket:[" + std::to_string(inode) + "]"; }

SocketHolding findSocketIn(const ProcessDirectory& process, const ProcessStatus& status, const std::string& socketLink, Deadline deadline, int likelyDescriptor)
{
    // A leader that has exited keeps no descriptors, and may not let them
    // be listed: its other threads may still hold the socket.
    SocketHolding holding;
    if (status.state != 'Z')
        holding = searchTable(process.descriptor(), socketLink, deadline, likelyDescriptor);
    if (holding.result != Result::doesNotHold)
        return holding;
    for (auto& thread : process.threadsWithOwnDescriptors(status)) {
        auto inThread = searchTable(thread.descriptor(), socketLink, deadline, -1);
        if (inThread.result == Result::holds)
            return { Result::holds, std::move(thread), inThread.descriptor };
        if (inThread.result == Result::timedOut)
            return inThread;
    }
    return holding;
}

SocketHolding findSocketIn(const ProcessDirectory& process, const std::string& socketLink, Deadline deadline)
{
    if (!process.isValid())
        return {};
    const auto status = process.status();
    if (status)
        return findSocketIn(process, *status, socketLink, deadline);
    return { status.notAllowed() ? SocketHolding::Result::unreadable : SocketHolding::Result::doesNotHold, std::nullopt, -1 };
}

} // namespace platform::sandbox
