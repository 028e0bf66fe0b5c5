#include "updater/ed25519_signature.h"

#include <sodium.h>

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <functional>
#include <mutex>
#include <vector>

namespace updater {

namespace {

void initialiseSodiumOnce()
{
    static std::once_flag once;
    std::call_once(once, [] {
        // Fails only without a random source; signing then fails too, and
        // verification does not need one.
        [[maybe_unused]] int status = sodium_init();
    });
}

template <std::size_t Size>
std::optional<std::array<unsigned char, Size>> decodeExactly(std::string_view text)
{
    initialiseSodiumOnce();
    // One byte of room tells a longer text from an exact one.
    std::array<unsigned char, Size + 1> decoded {};
    std::size_t length = 0;
    const char* end = nullptr;
    if (sodium_base642bin(decoded.data(), decoded.size(), text.data(), text.size(), " \t\r\n", &length, &end,
            sodium_base64_VARIANT_ORIGINAL)
            != 0
        || end != text.data() + text.size() || length != Size)
        return std::nullopt;
    std::array<unsigned char, Size> result {};
    std::copy_n(decoded.begin(), Size, result.begin());
    return result;
}

// The whole file as bytes, mapped rather than read: ed25519 needs the
// message in one piece, and a mapping costs no heap for large archives.
class MappedFile {
public:
    explicit MappedFile(const std::string& path)
    {
        int descriptor = open(path.c_str(), O_RDONLY | O_CLOEXEC);
        if (descriptor < 0)
            return;
        struct stat status {};
        if (fstat(descriptor, &status) == 0 && S_ISREG(status.st_mode)) {
            m_size = static_cast<std::size_t>(status.st_size);
            if (m_size == 0)
                m_readable = true;
            else {
                void* address = mmap(nullptr, m_size, PROT_READ, MAP_PRIVATE, descriptor, 0);
                if (address != MAP_FAILED) {
                    m_data = static_cast<unsigned char*>(address);
                    m_readable = true;
                }
            }
        }
        close(descriptor);
    }
    ~MappedFile()
    {
        if (m_data)
            munmap(m_data, m_size);
    }
    MappedFile(const MappedFile&) = delete;
    MappedFile& operator=(const MappedFile&) = delete;

    bool readable() const { return m_readable; }
    std::span<const unsigned char> bytes() const { return { m_data, m_data ? m_size : 0 }; }

private:
    unsigned char* m_data { nullptr };
    std::size_t m_size { 0 };
    bool m_readable { false };
};

} // namespace

std::optional<PublicKey> publicKeyFromBase64(std::string_view text) { return decodeExactly<32>(text); }
std::optional<Signature> signatureFromBase64(std::string_view text) { return decodeExactly<64>(text); }
std::optional<SecretSeed> secretSeedFromBase64(std::string_view text) { return decodeExactly<32>(text); }

std::string toBase64(std::span<const unsigned char> bytes)
{
    initialiseSodiumOnce();
    std::string text(sodium_base64_ENCODED_LEN(bytes.size(), sodium_base64_VARIANT_ORIGINAL), '\0');
    sodium_bin2base64(text.data(), text.size(), bytes.data(), bytes.size(), sodium_base64_VARIANT_ORIGINAL);
    text.resize(text.size() - 1); // the terminating zero
    return text;
}

bool signatureIsValid(std::span<const unsigned char> message, const Signature& signature, const PublicKey& key)
{
    initialiseSodiumOnce();
    return crypto_sign_verify_detached(signature.data(), message.data(), message.size(), key.data()) == 0;
}

bool fileSignatureIsValid(const std::string& path, const Signature& signature, const PublicKey& key)
{
    MappedFile file(path);
    return file.readable() && signatureIsValid(file.bytes(), signature, key);
}

bool withFileBytes(const std::string& path, const std::function<void(std::span<const unsigned char>)>& use)
{
    MappedFile file(path);
    if (!file.readable())
        return false;
    use(file.bytes());
    return true;
}

KeyPair generateKeyPair()
{
    initialiseSodiumOnce();
    KeyPair pair {};
    randombytes_buf(pair.seed.data(), pair.seed.size());
    pair.publicKey = publicKeyOf(pair.seed);
    return pair;
}

namespace {

std::array<unsigned char, crypto_sign_SECRETKEYBYTES> secretKeyOf(const SecretSeed& seed, PublicKey& publicKey)
{
    std::array<unsigned char, crypto_sign_SECRETKEYBYTES> secret {};
    crypto_sign_seed_keypair(publicKey.data(), secret.data(), seed.data());
    return secret;
}

} // namespace

PublicKey publicKeyOf(const SecretSeed& seed)
{
    initialiseSodiumOnce();
    PublicKey publicKey {};
    auto secret = secretKeyOf(seed, publicKey);
    sodium_memzero(secret.data(), secret.size());
    return publicKey;
}

std::optional<Signature> signFile(const std::string& path, const SecretSeed& seed)
{
    initialiseSodiumOnce();
    MappedFile file(path);
    if (!file.readable())
        return std::nullopt;
    PublicKey publicKey {};
    auto secret = secretKeyOf(seed, publicKey);
    Signature signature {};
    auto message = file.bytes();
    crypto_sign_detached(signature.data(), nullptr, message.data(), message.size(), secret.data());
    sodium_memzero(secret.data(), secret.size());
    return signature;
}

} // namespace updater
