// ferrowind-sign-update: the vendor's side of the updater. Makes a key pair,
// signs update archives for the appcast, and checks a signature.
#include "updater/ed25519_signature.h"
#include "updater/signing_key.h"

#include <sys/stat.h>

#include <cstdio>
#include <fstream>
#include <iostream>
#include <sstream>
#include <string>

namespace {

constexpr const char* kUsage = R"(usage:
  ferrowind-sign-update generate-keys PRIVATE-KEY-FILE
      Writes a new private key to PRIVATE-KEY-FILE (readable by you alone; it
      must not exist yet) and prints the public key for SUPublicEDKey.
  ferrowind-sign-update sign [-p] PRIVATE-KEY-FILE ARCHIVE
      Prints the enclosure attributes for ARCHIVE:
      sparkle:edSignature="..." length="..."
      With -p, the signature alone. PRIVATE-KEY-FILE "-" reads the key from
      standard input. Keys: base64 of a 32-byte seed (as generate-keys
      writes), or of Sparkle's older 96 bytes (expanded private key and
      public key).
  ferrowind-sign-update verify PUBLIC-KEY ARCHIVE SIGNATURE
      Exits with 0 when SIGNATURE (base64) is a valid signature of ARCHIVE
      for PUBLIC-KEY (base64), else 1.
)";

int usage()
{
    std::cerr << kUsage;
    return 2;
}

std::optional<updater::SigningKey> readSigningKey(const std::string& path)
{
    std::stringstream text;
    if (path == "-") {
        text << std::cin.rdbuf();
    } else {
        std::ifstream in(path);
        text << in.rdbuf();
        if (!in)
            return std::nullopt;
    }
    return updater::SigningKey::fromBase64(text.str());
}

int generateKeys(const std::string& privateKeyPath)
{
    auto pair = updater::generateKeyPair();
    const mode_t previous = umask(077);
    // "x": never overwrite a key that may already sign published updates.
    std::FILE* file = std::fopen(privateKeyPath.c_str(), "wx");
    umask(previous);
    if (!file) {
        std::perror(privateKeyPath.c_str());
        return 1;
    }
    const std::string seed = updater::toBase64(pair.seed) + "\n";
    const bool written = std::fwrite(seed.data(), 1, seed.size(), file) == seed.size();
    if (std::fclose(file) != 0 || !written) {
        std::cerr << "cannot write " << privateKeyPath << "\n";
        return 1;
    }
    std::cout << updater::toBase64(pair.publicKey) << "\n";
    return 0;
}

int sign(const std::string& privateKeyPath, const std::string& archivePath, bool signatureOnly)
{
    auto key = readSigningKey(privateKeyPath);
    if (!key) {
        std::cerr << privateKeyPath << ": not a private key (base64 of 32 or 96 bytes, the public half matching)\n";
        return 1;
    }
    auto signature = updater::signFile(archivePath, *key);
    struct stat status = {};
    if (!signature || stat(archivePath.c_str(), &status) != 0) {
        std::cerr << archivePath << ": cannot read the archive\n";
        return 1;
    }
    // Never hand out a signature the helper would refuse.
    if (!updater::fileSignatureIsValid(archivePath, *signature, key->publicKey())) {
        std::cerr << archivePath << ": the signature does not verify; the key is damaged\n";
        return 1;
    }
    if (signatureOnly)
        std::cout << updater::toBase64(*signature) << "\n";
    else
        std::cout << "sparkle:edSignature=\"" << updater::toBase64(*signature) << "\" length=\"" << status.st_size << "\"\n";
    return 0;
}

int verify(const std::string& publicKeyText, const std::string& archivePath, const std::string& signatureText)
{
    auto key = updater::publicKeyFromBase64(publicKeyText);
    auto signature = updater::signatureFromBase64(signatureText);
    if (!key || !signature) {
        std::cerr << "the public key or the signature is not valid base64 of the right length\n";
        return 1;
    }
    if (!updater::fileSignatureIsValid(archivePath, *signature, *key)) {
        std::cerr << archivePath << ": signature not valid\n";
        return 1;
    }
    std::cout << "valid\n";
    return 0;
}

} // namespace

int main(int argc, char** argv)
{
    const std::string command = argc > 1 ? argv[1] : "";
    if (command == "generate-keys" && argc == 3)
        return generateKeys(argv[2]);
    if (command == "sign" && argc == 4)
        return sign(argv[2], argv[3], false);
    if (command == "sign" && argc == 5 && std::string(argv[2]) == "-p")
        return sign(argv[3], argv[4], true);
    if (command == "verify" && argc == 5)
        return verify(argv[2], argv[3], argv[4]);
    return usage();
}
