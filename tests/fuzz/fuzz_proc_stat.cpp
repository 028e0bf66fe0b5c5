// /proc/PID/stat, whose command name may hold blanks and parentheses.
#include "platform/linux/kernel_tables/process_directory.h"

#include <cstdint>
#include <string_view>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    (void)platform::procfs::parseProcessStatus(std::string_view(reinterpret_cast<const char*>(data), size));
    return 0;
}
