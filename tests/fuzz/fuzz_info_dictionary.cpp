// Info.plist files, XML or binary: ours, and those of other programs'
// bundles, which we read to name running applications.
#include "platform/bundle.h"

#include <sys/mman.h>
#include <unistd.h>

#include <cstdint>
#include <string>

namespace {

// The reader takes a path, so each input goes through one file that lives
// as long as the process: a file in memory, which no run can leave behind,
// however it ends.
int scratchFile()
{
    static const int descriptor = memfd_create("fuzz-info-plist", MFD_CLOEXEC);
    return descriptor;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const int file = scratchFile();
    if (file < 0 || ftruncate(file, 0) != 0
        || pwrite(file, data, size, 0) != static_cast<ssize_t>(size))
        return 0;
    if (auto info = platform::readInfoDictionary("/proc/self/fd/" + std::to_string(file))) {
        (void)info->string("CFBundleShortVersionString");
        (void)info->integer("CFBundleVersion");
    }
    return 0;
}
