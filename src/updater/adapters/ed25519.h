#pragma once

#include <array>
#include <optional>
#include <span>

namespace updater {

using PublicKey = std::array<unsigned char, 32>;
using Signature = std::array<unsigned char, 64>;
using SecretSeed = std::array<unsigned char, 32>;
// SHA-512 of a seed, clamped: the signing scalar, then the nonce prefix.
using ExpandedKey = std::array<unsigned char, 64>;

// False only when the library found no random source: verifying still
// works then, making keys does not.
bool cryptoIsReady();

bool ed25519Verifies(std::span<const unsigned char> message, const Signature& signature, const PublicKey& key);

SecretSeed randomSeed();
PublicKey publicKeyOfSeed(const SecretSeed& seed);
Signature signWithSeed(std::span<const unsigned char> message, const SecretSeed& seed);

ExpandedKey expandedKeyOf(const SecretSeed& seed);
// Nothing for a scalar that makes no usable point.
std::optional<PublicKey> publicKeyOfScalar(std::span<const unsigned char, 32> scalar);
// RFC 8032 signing from the expanded key, for keys whose seed is lost.
Signature signWithExpandedKey(std::span<const unsigned char> message, const ExpandedKey& key, const PublicKey& publicKey);

// Overwrites secret bytes in a way the compiler cannot leave out.
void wipeSecret(std::span<unsigned char> bytes);

} // namespace updater
