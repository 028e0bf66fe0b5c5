// Info.plist files, XML or binary: ours, and those of other programs'
// bundles, which we read to name running applications.
#include "platform/bundle.h"

#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <string>

namespace {

// The reader takes a path, so each input goes through one file that lives
// as long as the process.
const std::string& scratchPath()
{
    static const std::string path = [] {
        char pattern[] = "/tmp/fuzz-info-plist-XXXXXX";
        int descriptor = mkstemp(pattern);
        if (descriptor >= 0)
            close(descriptor);
        return std::string(pattern);
    }();
    return path;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    FILE* file = std::fopen(scratchPath().c_str(), "wb");
    if (!file)
        return 0;
    std::fwrite(data, 1, size, file);
    std::fclose(file);
    if (auto info = platform::readInfoDictionary(scratchPath())) {
        (void)info->string("CFBundleShortVersionString");
        (void)info->integer("CFBundleVersion");
    }
    return 0;
}
