#pragma once

#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

namespace testing_support {

// Lowers the descriptor limit to just above those in use and takes every
// descriptor left, as a helper full of connections has; undone at the end.
class DescriptorsUsedUp {
public:
    DescriptorsUsedUp()
    {
        getrlimit(RLIMIT_NOFILE, &m_saved);
        int highest = 0;
        for (auto const& entry : std::filesystem::directory_iterator("/proc/self/fd"))
            highest = std::max(highest, std::stoi(entry.path().filename().string()));
        rlimit lowered { static_cast<rlim_t>(highest) + 8, m_saved.rlim_max };
        setrlimit(RLIMIT_NOFILE, &lowered);
        for (int copy; (copy = dup(0)) >= 0;)
            m_copies.push_back(copy);
    }
    ~DescriptorsUsedUp()
    {
        for (int copy : m_copies)
            close(copy);
        setrlimit(RLIMIT_NOFILE, &m_saved);
    }
    DescriptorsUsedUp(const DescriptorsUsedUp&) = delete;
    DescriptorsUsedUp& operator=(const DescriptorsUsedUp&) = delete;

private:
    rlimit m_saved {};
    std::vector<int> m_copies;
};

} // namespace testing_support
