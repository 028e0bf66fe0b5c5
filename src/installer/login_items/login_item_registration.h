#pragma once

#include "platform/login_items.h"

#include <string>

// The installer's use of the user's login-items list, for the installed
// helper's bundle. Each operation takes the list as just opened
// (platform::openLoginItems()), nullptr when it could not be obtained: then
// the answer is false and nothing changes. An item matches when it resolves
// to exactly the URL text given; letter case and symbolic links make a
// different URL.

// True when at least one item matches.
bool loginItemRegisteredForURL(const platform::LoginItemsList* list, const std::string& fileURL);

// Adds an item for the URL at the end of the list, whether or not one is
// there already. True when the item was added.
bool enableLoginItemWithURL(platform::LoginItemsList* list, const std::string& fileURL);

// Removes every matching item. True when at least one matched, even if its
// removal failed.
bool disableLoginItemWithURL(platform::LoginItemsList* list, const std::string& fileURL);
