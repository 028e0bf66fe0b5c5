#include "installer/login_items/login_item_registration.h"

namespace {

// Items that do not resolve (their bundle is gone, or they start something
// else) are passed over, never treated as a match or as a failure.
bool resolvesTo(const platform::LoginItemsList& list, const platform::LoginItem& item, const std::string& fileURL)
{
    const auto location = list.resolve(item);
    return location && *location == fileURL;
}

} // namespace

bool loginItemRegisteredForURL(const platform::LoginItemsList* list, const std::string& fileURL)
{
    if (!list)
        return false;
    bool registered = false;
    // No early stop at the first match: the query asks the list exactly
    // what the removal asks it, so the two cannot disagree about an item.
    for (const auto& item : list->snapshot())
        registered = resolvesTo(*list, item, fileURL) || registered;
    return registered;
}

bool enableLoginItemWithURL(platform::LoginItemsList* list, const std::string& fileURL)
{
    return list && list->insertLast(fileURL).has_value();
}

bool disableLoginItemWithURL(platform::LoginItemsList* list, const std::string& fileURL)
{
    if (!list)
        return false;
    bool matched = false;
    for (const auto& item : list->snapshot()) {
        if (!resolvesTo(*list, item, fileURL))
            continue;
        // Another program may have removed it since the snapshot; what the
        // caller wants is that the helper is no longer registered.
        list->remove(item);
        matched = true;
    }
    return matched;
}
