#pragma once

#include "updater/adapters/ed25519.h"

#include <functional>
#include <optional>
#include <span>
#include <string>
#include <string_view>

namespace updater {

// Standard base64 as appcasts carry it; blanks and line breaks are ignored.
// Nothing unless the text decodes to exactly the expected number of bytes.
std::optional<PublicKey> publicKeyFromBase64(std::string_view text);
std::optional<Signature> signatureFromBase64(std::string_view text);
std::optional<SecretSeed> secretSeedFromBase64(std::string_view text);

std::string toBase64(std::span<const unsigned char> bytes);

bool signatureIsValid(std::span<const unsigned char> message, const Signature& signature, const PublicKey& key);

// Verifies the whole file; false also when it cannot be read.
bool fileSignatureIsValid(const std::string& path, const Signature& signature, const PublicKey& key);

// Calls `use` with the whole file at once (ed25519 signs a message in one
// piece); false when the file cannot be read.
bool withFileBytes(const std::string& path, const std::function<void(std::span<const unsigned char>)>& use);

struct KeyPair {
    PublicKey publicKey;
    SecretSeed seed;
};
KeyPair generateKeyPair();
PublicKey publicKeyOf(const SecretSeed& seed);
std::optional<Signature> signFile(const std::string& path, const SecretSeed& seed);

} // namespace updater
