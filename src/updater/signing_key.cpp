#include "updater/signing_key.h"

#include <algorithm>
#include <sodium.h>
#include <vector>

namespace updater {

namespace {

constexpr std::size_t kSeedBytes = 32;
constexpr std::size_t kOlderKeyBytes = 96;

using Scalar = std::array<unsigned char, 32>;

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

std::span<const unsigned char> scalarHalf(const std::array<unsigned char, 64>& expanded) { return std::span(expanded).first<32>(); }
std::span<const unsigned char> prefixHalf(const std::array<unsigned char, 64>& expanded) { return std::span(expanded).last<32>(); }

std::optional<PublicKey> publicKeyOfScalar(std::span<const unsigned char> scalar)
{
    PublicKey key {};
    if (crypto_scalarmult_ed25519_base_noclamp(key.data(), scalar.data()) != 0)
        return std::nullopt;
    return key;
}

std::optional<std::vector<unsigned char>> decodeBase64(std::string_view text)
{
    std::vector<unsigned char> bytes(kOlderKeyBytes + 1);
    std::size_t length = 0;
    const char* end = nullptr;
    if (sodium_base642bin(bytes.data(), bytes.size(), text.data(), text.size(), " \t\r\n", &length, &end,
            sodium_base64_VARIANT_ORIGINAL)
            != 0
        || end != text.data() + text.size())
        return std::nullopt;
    bytes.resize(length);
    return bytes;
}

} // namespace

std::optional<SigningKey> SigningKey::fromBase64(std::string_view text)
{
    if (sodium_init() < 0)
        return std::nullopt;
    auto bytes = decodeBase64(text);
    if (!bytes)
        return std::nullopt;
    if (bytes->size() == kSeedBytes) {
        SecretSeed seed {};
        std::copy(bytes->begin(), bytes->end(), seed.begin());
        auto key = fromSeed(seed);
        sodium_memzero(seed.data(), seed.size());
        sodium_memzero(bytes->data(), bytes->size());
        return key;
    }
    if (bytes->size() != kOlderKeyBytes)
        return std::nullopt;
    SigningKey key;
    std::copy_n(bytes->begin(), key.m_expanded.size(), key.m_expanded.begin());
    std::copy_n(bytes->begin() + key.m_expanded.size(), key.m_publicKey.size(), key.m_publicKey.begin());
    sodium_memzero(bytes->data(), bytes->size());
    // A mismatched pair would sign updates that no installation accepts.
    if (publicKeyOfScalar(scalarHalf(key.m_expanded)) != key.m_publicKey)
        return std::nullopt;
    return key;
}

SigningKey SigningKey::fromSeed(const SecretSeed& seed)
{
    SigningKey key;
    crypto_hash_sha512(key.m_expanded.data(), seed.data(), seed.size());
    key.m_expanded[0] &= 248;
    key.m_expanded[31] &= 127;
    key.m_expanded[31] |= 64;
    key.m_publicKey = publicKeyOfScalar(scalarHalf(key.m_expanded)).value_or(PublicKey {});
    return key;
}

SigningKey::~SigningKey() { sodium_memzero(m_expanded.data(), m_expanded.size()); }

// Ed25519 (RFC 8032) from the expanded key: the seed that libsodium's
// signing starts from is not there for Sparkle's older keys.
Signature SigningKey::sign(std::span<const unsigned char> message) const
{
    const Scalar nonce = reducedHash({ prefixHalf(m_expanded), message });
    Signature signature {};
    crypto_scalarmult_ed25519_base_noclamp(signature.data(), nonce.data());
    const Scalar challenge = reducedHash({ std::span(signature).first<32>(), m_publicKey, message });
    Scalar product {};
    crypto_core_ed25519_scalar_mul(product.data(), challenge.data(), scalarHalf(m_expanded).data());
    crypto_core_ed25519_scalar_add(signature.data() + 32, product.data(), nonce.data());
    return signature;
}

std::optional<Signature> signFile(const std::string& path, const SigningKey& key)
{
    std::optional<Signature> signature;
    withFileBytes(path, [&](std::span<const unsigned char> message) { signature = key.sign(message); });
    return signature;
}

} // namespace updater
