#pragma once

#include "platform/client_process.h"
#include "platform/linux/kernel_tables/process_directory.h"

namespace platform {

// The /proc directory of the task that held the client's socket, opened at
// admission: its root stays that process's root, and once the process has
// gone it names nothing rather than whoever gets its PID next.
class ClientProcessHandle {
public:
    explicit ClientProcessHandle(procfs::ProcessDirectory task)
        : m_task(std::move(task))
    {
    }
    const procfs::ProcessDirectory& task() const { return m_task; }

private:
    procfs::ProcessDirectory m_task;
};

} // namespace platform
