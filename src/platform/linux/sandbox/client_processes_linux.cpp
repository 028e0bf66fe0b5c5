#include "platform/client_process.h"
#include "platform/linux/sandbox/sandbox_of_process.h"
#include "platform/linux/sandbox/socket_holder.h"
#include "platform/linux_platform.h"

namespace platform {

namespace {

ClientProcess describeSandboxed(pid_t process)
{
    if (auto application = sandbox::flatpakApplicationId(process))
        return { ClientProcess::Sandbox::flatpak, process, std::move(*application) };
    if (auto snap = sandbox::snapName(process))
        return { ClientProcess::Sandbox::snap, process, std::move(*snap) };
    return { ClientProcess::Sandbox::container, process, {} };
}

class LinuxClientProcesses final : public ClientProcesses {
public:
    ClientProcess ofPeerSocket(std::uint64_t peerSocketInode) const override
    {
        const auto holder = sandbox::sandboxedHolderOfSocket(peerSocketInode);
        return holder ? describeSandboxed(*holder) : ClientProcess {};
    }
};

} // namespace

std::unique_ptr<ClientProcesses> makeClientProcesses() { return std::make_unique<LinuxClientProcesses>(); }

} // namespace platform
