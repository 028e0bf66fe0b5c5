// Appcast feeds come from the network: whatever a server or a proxy in the
// way returns must be read without harm, and the newest-item choice must
// cope with any version texts in it.
#include "updater/appcast.h"

#include <cstdint>
#include <string_view>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    std::string_view feed(reinterpret_cast<const char*>(data), size);
    auto items = updater::parseAppcast(feed);
    if (!items)
        return 0;
    (void)updater::newestItemNewerThan(*items, "1.0.0");
    for (auto const& item : *items)
        (void)updater::newestItemNewerThan(*items, item.version);
    return 0;
}
