#pragma once

#include "updater/ed25519_signature.h"

#include <array>
#include <optional>
#include <string>
#include <string_view>

namespace updater {

// An ed25519 private key in its expanded form (the clamped scalar and the
// nonce prefix, 64 bytes) with its public key. Both key files vendors
// have read into it: today's 32-byte seed, and Sparkle's older 96 bytes
// (the expanded key followed by the public key), whose seed is lost.
class SigningKey {
public:
    // Base64 of 32 or 96 bytes; nothing for anything else, and for a
    // 96-byte key whose public half does not belong to its private half.
    static std::optional<SigningKey> fromBase64(std::string_view text);
    static SigningKey fromSeed(const SecretSeed& seed);

    SigningKey(const SigningKey&) = default;
    ~SigningKey();

    const PublicKey& publicKey() const { return m_publicKey; }
    Signature sign(std::span<const unsigned char> message) const;

private:
    SigningKey() = default;
    ExpandedKey m_expanded {};
    PublicKey m_publicKey {};
};

std::optional<Signature> signFile(const std::string& path, const SigningKey& key);

} // namespace updater
