#include "updater/adapters/digest.h"

#include <sodium.h>

namespace updater {

std::array<unsigned char, 16> shortDigestOf(std::string_view bytes)
{
    static_assert(crypto_generichash_BYTES_MIN == 16);
    std::array<unsigned char, 16> digest {};
    crypto_generichash(digest.data(), digest.size(), reinterpret_cast<const unsigned char*>(bytes.data()), bytes.size(), nullptr, 0);
    return digest;
}

} // namespace updater
