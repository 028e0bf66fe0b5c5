// /.flatpak-info as a sandbox may have rewritten it.
#include "platform/linux/sandbox/flatpak_info.h"

#include <cstdint>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    (void)platform::sandbox::applicationIdIn(std::string(reinterpret_cast<const char*>(data), size));
    return 0;
}
