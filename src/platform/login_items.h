#pragma once

#include "platform/file_url.h"

#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace platform {

// One item of the user's login-items list, as a snapshot saw it. Only the
// list that produced it knows what the reference means (on Linux, the path
// of the item's autostart entry).
struct LoginItem {
    std::string reference;

    friend bool operator==(const LoginItem&, const LoginItem&) = default;
};

// The per-user list of programs the desktop session starts at login. It is
// shared with the session and with other programs, which may change it at
// any time; nothing is cached between calls.
class LoginItemsList {
public:
    virtual ~LoginItemsList() = default;

    // The items present now, in a stable order.
    virtual std::vector<LoginItem> snapshot() const = 0;

    // The file URL of the bundle the item starts, exactly as it was
    // registered. Nothing when the item cannot be read, was not registered
    // with a bundle, or that bundle no longer exists.
    virtual std::optional<std::string> resolve(const LoginItem& item) const = 0;

    // Adds a new item that starts the bundle at `bundleFileURL`, leaving the
    // items already present as they are. Nothing when no item was added.
    virtual std::optional<LoginItem> insertLast(const std::string& bundleFileURL) = 0;

    // False when the item could not be removed (for instance because it is
    // already gone).
    virtual bool remove(const LoginItem& item) = 0;
};

// The current user's list, or nullptr when it cannot be obtained.
std::unique_ptr<LoginItemsList> openLoginItems();

} // namespace platform
