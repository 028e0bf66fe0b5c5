// /proc/PID/status, for the depth of nested PID namespaces and the real user.
#include "platform/linux/kernel_tables/process_directory.h"

#include <cstdint>
#include <string_view>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const std::string_view status(reinterpret_cast<const char*>(data), size);
    (void)platform::procfs::pidNamespaceDepthIn(status);
    (void)platform::procfs::realUserIDIn(status);
    return 0;
}
