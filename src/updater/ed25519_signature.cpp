#include "updater/ed25519_signature.h"

#include "platform/mapped_file.h"
#include "updater/adapters/base64.h"

#include <algorithm>

namespace updater {

namespace {

template<std::size_t Size>
std::optional<std::array<unsigned char, Size>> decodeExactly(std::string_view text)
{
    auto decoded = bytesFromBase64(text, Size);
    if (!decoded || decoded->size() != Size)
        return std::nullopt;
    std::array<unsigned char, Size> result {};
    std::copy_n(decoded->begin(), Size, result.begin());
    wipeSecret(*decoded);
    return result;
}

} // namespace

std::optional<PublicKey> publicKeyFromBase64(std::string_view text) { return decodeExactly<32>(text); }
std::optional<Signature> signatureFromBase64(std::string_view text) { return decodeExactly<64>(text); }
std::optional<SecretSeed> secretSeedFromBase64(std::string_view text) { return decodeExactly<32>(text); }

std::string toBase64(std::span<const unsigned char> bytes) { return base64Of(bytes); }

bool signatureIsValid(std::span<const unsigned char> message, const Signature& signature, const PublicKey& key)
{
    return ed25519Verifies(message, signature, key);
}

// The file is mapped rather than read: ed25519 needs the message in one
// piece, and a mapping costs no heap for large archives.
bool fileSignatureIsValid(const std::string& path, const Signature& signature, const PublicKey& key)
{
    auto file = platform::MappedFile::open(path);
    return file && signatureIsValid(file->bytes(), signature, key);
}

bool withFileBytes(const std::string& path, const std::function<void(std::span<const unsigned char>)>& use)
{
    auto file = platform::MappedFile::open(path);
    if (!file)
        return false;
    use(file->bytes());
    return true;
}

KeyPair generateKeyPair()
{
    KeyPair pair {};
    pair.seed = randomSeed();
    pair.publicKey = publicKeyOf(pair.seed);
    return pair;
}

PublicKey publicKeyOf(const SecretSeed& seed) { return publicKeyOfSeed(seed); }

std::optional<Signature> signFile(const std::string& path, const SecretSeed& seed)
{
    std::optional<Signature> signature;
    withFileBytes(path, [&](std::span<const unsigned char> message) { signature = signWithSeed(message, seed); });
    return signature;
}

} // namespace updater
