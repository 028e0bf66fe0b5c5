#include "updater/signing_key.h"

#include <gtest/gtest.h>
#include <sodium.h>

#include <vector>

namespace {

using namespace updater;

// Sparkle's older key files: the expanded key (SHA-512 of the seed,
// clamped) followed by the public key.
std::string olderKeyFile(const SecretSeed& seed, const PublicKey& publicKey)
{
    std::array<unsigned char, 96> key {};
    crypto_hash_sha512(key.data(), seed.data(), seed.size());
    key[0] &= 248;
    key[31] &= 127;
    key[31] |= 64;
    std::copy(publicKey.begin(), publicKey.end(), key.begin() + 64);
    return toBase64(key);
}

TEST(SigningKey, SignsLikeLibsodiumFromEitherKeyFile)
{
    ASSERT_GE(sodium_init(), 0);
    for (std::size_t length : { 0u, 1u, 1000u }) {
        // One byte of room: an empty vector's data() may be null.
        std::vector<unsigned char> buffer(length + 1);
        randombytes_buf(buffer.data(), buffer.size());
        const std::span<const unsigned char> message(buffer.data(), length);
        SecretSeed seed {};
        randombytes_buf(seed.data(), seed.size());
        PublicKey publicKey {};
        std::array<unsigned char, crypto_sign_SECRETKEYBYTES> secret {};
        crypto_sign_seed_keypair(publicKey.data(), secret.data(), seed.data());
        Signature expected {};
        crypto_sign_detached(expected.data(), nullptr, message.data(), message.size(), secret.data());

        auto fromSeed = SigningKey::fromBase64(toBase64(seed));
        auto fromOlder = SigningKey::fromBase64(olderKeyFile(seed, publicKey));
        ASSERT_TRUE(fromSeed && fromOlder);
        EXPECT_EQ(fromSeed->publicKey(), publicKey);
        EXPECT_EQ(fromSeed->sign(message), expected) << "seed key, " << length << " bytes";
        EXPECT_EQ(fromOlder->sign(message), expected) << "96-byte key, " << length << " bytes";
    }
}

TEST(SigningKey, RefusesKeysOfOtherSizesAndMismatchedHalves)
{
    SecretSeed seed {};
    randombytes_buf(seed.data(), seed.size());
    PublicKey otherKey {};
    otherKey[0] = 1;
    EXPECT_FALSE(SigningKey::fromBase64(olderKeyFile(seed, otherKey))) << "public half of another key";
    EXPECT_FALSE(SigningKey::fromBase64(toBase64(std::array<unsigned char, 64> {})));
    EXPECT_FALSE(SigningKey::fromBase64("not base64"));
}

} // namespace
