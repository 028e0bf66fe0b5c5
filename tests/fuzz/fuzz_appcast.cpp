// Appcast feeds come from the network: whatever a server or a proxy in the
// way returns must be read without harm, and the item choice must cope
// with any version texts, dates and rollout numbers in it.
#include "updater/appcast.h"
#include "updater/installation_identity.h"
#include "updater/item_choice.h"

#include <cstdint>
#include <string_view>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    std::string_view feed(reinterpret_cast<const char*>(data), size);
    auto appcast = updater::readAppcast(feed, "https://example.test/feed/appcast.xml");
    if (!appcast.items)
        return 0;
    const auto systems = updater::operatingSystemNames();
    (void)updater::chooseUpdate(*appcast.items, { "1.0.0", systems, 6, 1'700'000'000 });
    for (auto const& item : *appcast.items)
        (void)updater::chooseUpdate(*appcast.items, { item.version, systems, 3, INT64_MAX });
    return 0;
}
