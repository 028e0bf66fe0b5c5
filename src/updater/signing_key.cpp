#include "updater/signing_key.h"

#include "updater/adapters/base64.h"

#include <algorithm>

namespace updater {

namespace {

constexpr std::size_t kSeedBytes = 32;
constexpr std::size_t kOlderKeyBytes = 96;

std::span<const unsigned char, 32> scalarHalf(const ExpandedKey& expanded) { return std::span(expanded).first<32>(); }

} // namespace

std::optional<SigningKey> SigningKey::fromBase64(std::string_view text)
{
    if (!cryptoIsReady())
        return std::nullopt;
    auto bytes = bytesFromBase64(text, kOlderKeyBytes + 1);
    if (!bytes)
        return std::nullopt;
    if (bytes->size() == kSeedBytes) {
        SecretSeed seed {};
        std::copy(bytes->begin(), bytes->end(), seed.begin());
        auto key = fromSeed(seed);
        wipeSecret(seed);
        wipeSecret(*bytes);
        return key;
    }
    if (bytes->size() != kOlderKeyBytes) {
        wipeSecret(*bytes);
        return std::nullopt;
    }
    SigningKey key;
    std::copy_n(bytes->begin(), key.m_expanded.size(), key.m_expanded.begin());
    std::copy_n(bytes->begin() + key.m_expanded.size(), key.m_publicKey.size(), key.m_publicKey.begin());
    wipeSecret(*bytes);
    // A mismatched pair would sign updates that no installation accepts.
    if (publicKeyOfScalar(scalarHalf(key.m_expanded)) != key.m_publicKey)
        return std::nullopt;
    return key;
}

SigningKey SigningKey::fromSeed(const SecretSeed& seed)
{
    SigningKey key;
    key.m_expanded = expandedKeyOf(seed);
    key.m_publicKey = publicKeyOfScalar(scalarHalf(key.m_expanded)).value_or(PublicKey {});
    return key;
}

SigningKey::~SigningKey() { wipeSecret(m_expanded); }

// From the expanded key: the seed that ordinary signing starts from is not
// there for Sparkle's older keys.
Signature SigningKey::sign(std::span<const unsigned char> message) const
{
    return signWithExpandedKey(message, m_expanded, m_publicKey);
}

std::optional<Signature> signFile(const std::string& path, const SigningKey& key)
{
    std::optional<Signature> signature;
    withFileBytes(path, [&](std::span<const unsigned char> message) { signature = key.sign(message); });
    return signature;
}

} // namespace updater
