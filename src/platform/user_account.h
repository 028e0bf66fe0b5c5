#pragma once

#include <string>

namespace platform {

class UserAccount {
public:
    virtual ~UserAccount() = default;
    // The login name of the user who runs this process.
    virtual std::string loginName() const = 0;
};

} // namespace platform
