#pragma once

#include <string_view>

namespace platform {

class SystemLog {
public:
    virtual ~SystemLog() = default;
    virtual void write(std::string_view line) = 0;
};

} // namespace platform
