#pragma once
// Sealing of the program's own data: authenticated encryption of a byte
// string into a self-describing blob, and back.
#include <cstdint>
#include <string>

// Not named "crypt": that would clash with crypt() from <unistd.h>.
namespace crypto {

enum class ReadResult {
    Ok = 0,
    NotFound = 1, // the input was empty
    Tampered = 2, // too short, foreign magic or version, or a failed tag
};

// Layout of a sealed blob: magic, version byte, nonce, tag, ciphertext.
constexpr size_t kMagicSize = 4;
constexpr size_t kNonceSize = 24;
constexpr size_t kTagSize = 16;
constexpr size_t kKeySize = 32;
constexpr size_t kHeaderSize = kMagicSize + 1 + kNonceSize + kTagSize; // 45
constexpr uint8_t kVersion = 1;
inline constexpr char kMagic[] = "QXFA";

// Empty when no random source is available to make a nonce.
std::string encrypt(const std::string& plain);
// `plain` may be null: then only the seal is tested. It is left empty on
// anything but Ok.
ReadResult decrypt(const std::string& sealed, std::string* plain);
// True for at least kHeaderSize bytes that begin with the magic; the version
// byte and the tag are not examined.
bool looks_sealed(const std::string& data);

// The fixed key every seal uses; the caller wipes it after use.
void derive_key(uint8_t* key);
// A fresh random nonce of kNonceSize bytes; false without a random source.
bool make_nonce(uint8_t* nonce);

} // namespace crypto
