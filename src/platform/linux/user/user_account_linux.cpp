#include "platform/linux_platform.h"

#include <pwd.h>
#include <unistd.h>

#include <cerrno>
#include <vector>

namespace platform {

namespace {

class LinuxUserAccount final : public UserAccount {
public:
    std::string loginName() const override
    {
        const uid_t uid = getuid();
        // Containers and some sandboxes run us under a uid that has no
        // passwd entry; the number is then the only name there is.
        return passwdName(uid).value_or(std::to_string(uid));
    }

private:
    static std::optional<std::string> passwdName(uid_t uid)
    {
        const long suggested = sysconf(_SC_GETPW_R_SIZE_MAX);
        std::vector<char> buffer(suggested > 0 ? static_cast<std::size_t>(suggested) : 1024);
        for (;;) {
            passwd entry {};
            passwd* found = nullptr;
            const int error = getpwuid_r(uid, &entry, buffer.data(), buffer.size(), &found);
            if (error == ERANGE && buffer.size() < 1024 * 1024) {
                buffer.resize(buffer.size() * 2);
                continue;
            }
            if (error != 0 || !found || !found->pw_name)
                return std::nullopt;
            return std::string(found->pw_name);
        }
    }
};

} // namespace

std::unique_ptr<UserAccount> makeUserAccount()
{
    return std::make_unique<LinuxUserAccount>();
}

} // namespace platform
