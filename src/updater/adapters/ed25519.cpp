#include "updater/adapters/ed25519.h"

#include <sodium.h>

#include <initializer_list>
#include <mutex>

namespace updater {

namespace {

using Scalar = std::array<unsigned char, 32>;

bool initialiseSodiumOnce()
{
    static std::once_flag once;
    static bool ready = false;
    std::call_once(once, [] { ready = sodium_init() >= 0; });
    return ready;
}

// Reduces a 64-byte hash to a scalar, as ed25519 does with its hashes.
Scalar reducedHash(std::initializer_list<std::span<const unsigned char>> parts)
{
    crypto_hash_sha512_state state;
    crypto_hash_sha512_init(&state);
    for (auto part : parts)
        crypto_hash_sha512_update(&state, part.data(), part.size());
    std::array<unsigned char, 64> hash {};
    crypto_hash_sha512_final(&state, hash.data());
    Scalar scalar {};
    crypto_core_ed25519_scalar_reduce(scalar.data(), hash.data());
    return scalar;
}

std::span<const unsigned char, 32> scalarHalf(const ExpandedKey& key) { return std::span(key).first<32>(); }
std::span<const unsigned char, 32> prefixHalf(const ExpandedKey& key) { return std::span(key).last<32>(); }

std::array<unsigned char, crypto_sign_SECRETKEYBYTES> secretKeyOf(const SecretSeed& seed, PublicKey& publicKey)
{
    std::array<unsigned char, crypto_sign_SECRETKEYBYTES> secret {};
    crypto_sign_seed_keypair(publicKey.data(), secret.data(), seed.data());
    return secret;
}

} // namespace

bool cryptoIsReady() { return initialiseSodiumOnce(); }

bool ed25519Verifies(std::span<const unsigned char> message, const Signature& signature, const PublicKey& key)
{
    initialiseSodiumOnce();
    return crypto_sign_verify_detached(signature.data(), message.data(), message.size(), key.data()) == 0;
}

SecretSeed randomSeed()
{
    initialiseSodiumOnce();
    SecretSeed seed {};
    randombytes_buf(seed.data(), seed.size());
    return seed;
}

PublicKey publicKeyOfSeed(const SecretSeed& seed)
{
    initialiseSodiumOnce();
    PublicKey publicKey {};
    auto secret = secretKeyOf(seed, publicKey);
    sodium_memzero(secret.data(), secret.size());
    return publicKey;
}

Signature signWithSeed(std::span<const unsigned char> message, const SecretSeed& seed)
{
    initialiseSodiumOnce();
    PublicKey publicKey {};
    auto secret = secretKeyOf(seed, publicKey);
    Signature signature {};
    crypto_sign_detached(signature.data(), nullptr, message.data(), message.size(), secret.data());
    sodium_memzero(secret.data(), secret.size());
    return signature;
}

ExpandedKey expandedKeyOf(const SecretSeed& seed)
{
    ExpandedKey key {};
    crypto_hash_sha512(key.data(), seed.data(), seed.size());
    key[0] &= 248;
    key[31] &= 127;
    key[31] |= 64;
    return key;
}

std::optional<PublicKey> publicKeyOfScalar(std::span<const unsigned char, 32> scalar)
{
    PublicKey key {};
    if (crypto_scalarmult_ed25519_base_noclamp(key.data(), scalar.data()) != 0)
        return std::nullopt;
    return key;
}

Signature signWithExpandedKey(std::span<const unsigned char> message, const ExpandedKey& key, const PublicKey& publicKey)
{
    const Scalar nonce = reducedHash({ prefixHalf(key), message });
    Signature signature {};
    crypto_scalarmult_ed25519_base_noclamp(signature.data(), nonce.data());
    const Scalar challenge = reducedHash({ std::span(signature).first<32>(), publicKey, message });
    Scalar product {};
    crypto_core_ed25519_scalar_mul(product.data(), challenge.data(), scalarHalf(key).data());
    crypto_core_ed25519_scalar_add(signature.data() + 32, product.data(), nonce.data());
    return signature;
}

void wipeSecret(std::span<unsigned char> bytes) { sodium_memzero(bytes.data(), bytes.size()); }

} // namespace updater
