// /proc/PID/maps text of another process, whose mapped file names are chosen
// by that process.
#include "platform/linux/file_holders/memory_maps.h"

#include <sys/sysmacros.h>

#include <cstdint>
#include <string_view>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    std::string_view text(reinterpret_cast<const char*>(data), size);
    (void)platform::linux_files::mapsMentionFile(text, makedev(8, 1), 1234);
    (void)platform::linux_files::mapsMentionFile(text, makedev(0, 0), 0);
    return 0;
}
