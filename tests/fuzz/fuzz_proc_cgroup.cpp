// /proc/PID/cgroup, and what the unified hierarchy's group names.
#include "platform/linux/kernel_tables/process_directory.h"
#include "platform/linux/sandbox/sandbox_groups.h"

#include <cstdint>
#include <string_view>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    if (const auto group = platform::procfs::unifiedGroupIn(std::string_view(reinterpret_cast<const char*>(data), size)))
        (void)platform::sandbox::sandboxOfGroup(*group);
    return 0;
}
