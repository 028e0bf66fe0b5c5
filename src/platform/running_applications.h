#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace platform {

using ProcessID = std::int32_t;

struct RunningApplication {
    std::string displayName;
    ProcessID processIdentifier { 0 };
    std::optional<std::string> bundleIdentifier;
};

class RunningApplications {
public:
    virtual ~RunningApplications() = default;
    // The current user's applications running at the time of the call.
    virtual std::vector<RunningApplication> list() const = 0;
    // The running application with this process id, if it is one of the
    // user's; the same record list() would give for it.
    virtual std::optional<RunningApplication> application(ProcessID pid) const
    {
        for (auto& application : list()) {
            if (application.processIdentifier == pid)
                return application;
        }
        return std::nullopt;
    }
    virtual ProcessID currentProcessIdentifier() const = 0;
};

} // namespace platform
