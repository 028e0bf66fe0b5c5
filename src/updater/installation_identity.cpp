#include "updater/installation_identity.h"

#include "updater/adapters/digest.h"

#include <cstdint>
#include <span>

namespace updater {

namespace {

struct ArchitectureNames {
    const char* kernel;
    const char* debian;
};

// The build's own architecture, not the kernel's: a 32-bit helper on a
// 64-bit kernel needs the 32-bit archive.
constexpr ArchitectureNames kThisArchitecture =
#if defined(__x86_64__)
    { "x86_64", "amd64" };
#elif defined(__aarch64__)
    { "aarch64", "arm64" };
#elif defined(__i386__)
    { "i686", "i386" };
#elif defined(__arm__)
    { "armv7l", "armhf" };
#elif defined(__riscv) && __riscv_xlen == 64
    { "riscv64", "riscv64" };
#elif defined(__powerpc64__) && __BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__
    { "ppc64le", "ppc64el" };
#elif defined(__s390x__)
    { "s390x", "s390x" };
#else
    { nullptr, nullptr };
#endif

} // namespace

std::vector<std::string> operatingSystemNames()
{
    std::vector<std::string> names { "linux" };
    if (kThisArchitecture.kernel) {
        names.push_back(std::string("linux-") + kThisArchitecture.kernel);
        names.push_back(std::string("linux-") + kThisArchitecture.debian);
    }
    return names;
}

unsigned phasedRolloutGroup(std::string_view machineIdentifier, std::string_view bundleIdentifier, std::string_view bundlePath)
{
    // A fixed hash, not std::hash: the group must survive a rebuild.
    const std::string identity = std::string(machineIdentifier) + '\n' + std::string(bundleIdentifier) + '\n' + std::string(bundlePath);
    const auto digest = shortDigestOf(identity);
    std::uint64_t value = 0;
    for (unsigned char byte : std::span(digest).first<8>())
        value = (value << 8) | byte;
    return static_cast<unsigned>(value % kPhasedRolloutGroups);
}

} // namespace updater
