#pragma once

#include "platform/client_process.h"
#include "platform/linux/kernel_tables/process_directory.h"

#include <cstdint>
#include <memory>

namespace platform {

// The /proc directory of the task that held the client's socket, opened at
// admission: its root stays that process's root, and once the process has
// gone it names nothing rather than whoever gets its PID next. With it,
// where that connection was found, so that the client's next connection is
// looked for there first.
class ClientProcessHandle {
public:
    ClientProcessHandle(std::shared_ptr<const procfs::ProcessDirectory> task, int descriptor, std::uint64_t controlGroup)
        : m_task(std::move(task))
        , m_descriptor(descriptor)
        , m_controlGroup(controlGroup)
    {
    }
    const procfs::ProcessDirectory& task() const { return *m_task; }
    const std::shared_ptr<const procfs::ProcessDirectory>& sharedTask() const { return m_task; }
    // The number its table held the socket at.
    int descriptor() const { return m_descriptor; }
    // The group the socket was made in, as the kernel numbers them.
    std::uint64_t controlGroup() const { return m_controlGroup; }

private:
    std::shared_ptr<const procfs::ProcessDirectory> m_task;
    int m_descriptor { -1 };
    std::uint64_t m_controlGroup { 0 };
};

} // namespace platform
