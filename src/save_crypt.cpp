#include "save_crypt.h"

#include <sodium.h>

#include <cstring>
#include <ctime>
#include <vector>

namespace crypto {

namespace {

// libsodium must be initialised once before its random source is used;
// sodium_init itself is safe to call from several threads.
bool sodium_ready()
{
    static const bool ready = sodium_init() >= 0;
    return ready;
}

uint64_t steady_ticks()
{
    timespec ts {};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return uint64_t(ts.tv_sec) * 1000000000ull + uint64_t(ts.tv_nsec);
}

} // namespace

void derive_key(uint8_t* key)
{
    static const uint8_t kSeeds[32] = {
        0x5c, 0x1e, 0x9a, 0x07, 0xd3, 0xb2, 0x4f, 0x68, 0xa0, 0xe1, 0x7c, 0x93, 0xb5, 0xd2, 0x48, 0x6f,
        0x0c, 0x3a, 0x9e, 0x71, 0xd5, 0x4b, 0x28, 0xf6, 0x9e, 0x07, 0xc1, 0xa3, 0xd5, 0xb2, 0xf8, 0x04,
    };
    static const char kTag[16] = { 'r', 'v', 'P', 'l', 'u', 'm', 'e', 'B', 'u', 'i', 'l', 'd', 'e', 'r', '/', '3' };

    sodium_ready();
    uint8_t material[48];
    memcpy(material, kSeeds, 32);
    memcpy(material + 32, kTag, 16);
    crypto_generichash(key, kKeySize, material, sizeof material, nullptr, 0);
    sodium_memzero(material, sizeof material);
}

bool make_nonce(uint8_t* nonce)
{
    if (!sodium_ready())
        return false;
    // Six little-endian 32-bit words from the system's random source, with
    // the monotonic clock mixed into the first eight bytes.
    for (int i = 0; i < 6; ++i) {
        uint32_t word = randombytes_random();
        for (int b = 0; b < 4; ++b)
            nonce[i * 4 + b] = uint8_t(word >> (8 * b));
    }
    uint64_t ticks = steady_ticks();
    for (int b = 0; b < 8; ++b)
        nonce[b] ^= uint8_t(ticks >> (8 * b));
    return true;
}

std::string encrypt(const std::string& plain)
{
    uint8_t key[kKeySize];
    uint8_t nonce[kNonceSize];
    uint8_t tag[kTagSize];
    if (!make_nonce(nonce))
        return {};
    derive_key(key);

    std::string out(kHeaderSize + plain.size(), '\0');
    auto* cipher = reinterpret_cast<unsigned char*>(out.data()) + kHeaderSize;
    unsigned long long tag_len = 0;
    crypto_aead_xchacha20poly1305_ietf_encrypt_detached(
        cipher, tag, &tag_len, reinterpret_cast<const unsigned char*>(plain.data()), plain.size(),
        nullptr, 0, nullptr, nonce, key);
    sodium_memzero(key, sizeof key);

    memcpy(out.data(), kMagic, kMagicSize);
    out[kMagicSize] = char(kVersion);
    memcpy(out.data() + kMagicSize + 1, nonce, kNonceSize);
    memcpy(out.data() + kMagicSize + 1 + kNonceSize, tag, kTagSize);
    return out;
}

ReadResult decrypt(const std::string& sealed, std::string* plain)
{
    if (plain)
        plain->clear();
    if (sealed.empty())
        return ReadResult::NotFound;
    if (sealed.size() < kHeaderSize || memcmp(sealed.data(), kMagic, kMagicSize) != 0
        || uint8_t(sealed[kMagicSize]) != kVersion)
        return ReadResult::Tampered;

    uint8_t key[kKeySize];
    derive_key(key);
    size_t n = sealed.size() - kHeaderSize;
    const auto* base = reinterpret_cast<const unsigned char*>(sealed.data());
    std::vector<unsigned char> buf(n ? n : 1);
    int rc = crypto_aead_xchacha20poly1305_ietf_decrypt_detached(
        buf.data(), nullptr, base + kHeaderSize, n, base + kMagicSize + 1 + kNonceSize,
        nullptr, 0, base + kMagicSize + 1, key);
    sodium_memzero(key, sizeof key);

    ReadResult result = ReadResult::Tampered;
    if (rc == 0) {
        if (plain)
            plain->assign(reinterpret_cast<const char*>(buf.data()), n);
        result = ReadResult::Ok;
    }
    sodium_memzero(buf.data(), buf.size());
    return result;
}

bool looks_sealed(const std::string& data)
{
    return data.size() >= kHeaderSize && memcmp(data.data(), kMagic, kMagicSize) == 0;
}

} // namespace crypto
