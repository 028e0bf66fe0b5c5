#include "platform/bundle.h"
#include "platform/linux/kernel_tables/proc_entries.h"

#include <filesystem>

namespace platform {

Bundle loadMainBundle()
{
    const auto executable = procfs::executablePath("self");
    if (!executable)
        return Bundle { ".", {} };
    if (auto bundlePath = enclosingBundlePath(*executable)) {
        Bundle bundle { std::move(*bundlePath), {} };
        bundle.info = readInfoDictionary(bundle.infoPlistPath()).value_or(InfoDictionary {});
        return bundle;
    }
    return Bundle { std::filesystem::path(*executable).parent_path().string(), {} };
}

} // namespace platform
