// /proc/PID/status, for the depth of nested PID namespaces.
#include "platform/linux/kernel_tables/process_directory.h"

#include <cstdint>
#include <string_view>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    (void)platform::procfs::pidNamespaceDepthIn(std::string_view(reinterpret_cast<const char*>(data), size));
    return 0;
}
