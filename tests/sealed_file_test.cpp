// Sealed blobs (known answers, tampering) and sealed files on disk
// (atomic replacement, failed writes, broken seals moved aside).
#include "logger.h"
#include "save_crypt.h"
#include "sealed_file.h"
#include "testutil.h"

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>

using namespace testutil;

namespace {

std::string unhex(const std::string& hex)
{
    std::string out;
    for (size_t i = 0; i + 1 < hex.size(); i += 2)
        out.push_back(char(std::stoi(hex.substr(i, 2), nullptr, 16)));
    return out;
}

// "font=100\n" sealed with an all-zero nonce.
std::string known_blob()
{
    return std::string("QXFA\x01", 5) + std::string(24, '\0') + unhex("1a90ae07985c9da2dfb8cc27c12a547d")
        + unhex("32cbda022dadcdeae6");
}

bool tail_has(const std::string& text)
{
    auto lines = logger::tail(500);
    return std::any_of(lines.begin(), lines.end(), [&](const std::string& l) { return l.find(text) != std::string::npos; });
}

} // namespace

TEST(Crypt, KnownKeyAndKnownSeal)
{
    uint8_t key[crypto::kKeySize];
    crypto::derive_key(key);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(key), sizeof key),
        unhex("f125182000fa8aa01af4c61b856057ab6c50cf8f7f8073ee4015c75179bdf9be"));

    std::string plain = "stale";
    EXPECT_EQ(crypto::decrypt(known_blob(), &plain), crypto::ReadResult::Ok);
    EXPECT_EQ(plain, "font=100\n");
    EXPECT_EQ(crypto::decrypt(known_blob(), nullptr), crypto::ReadResult::Ok);
}

TEST(Crypt, EncryptRoundTripsWithFreshNonces)
{
    std::string text = "language=de\nrecent=/a\x1f/b\n";
    text.push_back('\0');
    std::string a = crypto::encrypt(text), b = crypto::encrypt(text);
    ASSERT_EQ(a.size(), crypto::kHeaderSize + text.size());
    EXPECT_EQ(a.substr(0, 5), std::string("QXFA\x01", 5));
    EXPECT_NE(a, b);
    EXPECT_NE(a.substr(5, 24), b.substr(5, 24));
    std::string pa, pb;
    EXPECT_EQ(crypto::decrypt(a, &pa), crypto::ReadResult::Ok);
    EXPECT_EQ(crypto::decrypt(b, &pb), crypto::ReadResult::Ok);
    EXPECT_EQ(pa, text);
    EXPECT_EQ(pb, text);

    std::string empty = crypto::encrypt("");
    EXPECT_EQ(empty.size(), 45u);
    std::string out = "x";
    EXPECT_EQ(crypto::decrypt(empty, &out), crypto::ReadResult::Ok);
    EXPECT_EQ(out, "");
}

TEST(Crypt, EveryBitFlipIsTampering)
{
    const std::string blob = known_blob();
    for (size_t byte = 0; byte < blob.size(); ++byte) {
        for (int bit = 0; bit < 8; ++bit) {
            std::string bad = blob;
            bad[byte] = char(bad[byte] ^ (1 << bit));
            std::string plain = "stale";
            ASSERT_EQ(crypto::decrypt(bad, &plain), crypto::ReadResult::Tampered) << "byte " << byte << " bit " << bit;
            ASSERT_EQ(plain, "");
        }
    }
    std::string version2 = blob;
    version2[4] = 2;
    EXPECT_EQ(crypto::decrypt(version2, nullptr), crypto::ReadResult::Tampered);
    std::string cut = blob.substr(0, blob.size() - 1);
    EXPECT_EQ(crypto::decrypt(cut, nullptr), crypto::ReadResult::Tampered);
    std::string longer = blob + "x";
    EXPECT_EQ(crypto::decrypt(longer, nullptr), crypto::ReadResult::Tampered);
}

TEST(Crypt, ShortAndEmptyInputs)
{
    std::string out = "x";
    EXPECT_EQ(crypto::decrypt("", &out), crypto::ReadResult::NotFound);
    EXPECT_EQ(out, "");
    std::string header44 = std::string("QXFA\x01", 5) + std::string(39, '\0');
    EXPECT_EQ(crypto::decrypt(header44, &out), crypto::ReadResult::Tampered);

    EXPECT_FALSE(crypto::looks_sealed(header44));
    std::string any_version = std::string("QXFA\x07", 5) + std::string(40, 'z');
    EXPECT_TRUE(crypto::looks_sealed(any_version));
    EXPECT_FALSE(crypto::looks_sealed("QXFB" + std::string(41, 'z')));
    EXPECT_FALSE(crypto::looks_sealed("plain text that is long enough to pass the length test"));
}

TEST(SealedFile, WriteReadAndAtomicReplace)
{
    TempDir dir;
    std::string path = dir.file("settings.dat");
    ASSERT_TRUE(sealed::write(path, "first"));
    ASSERT_TRUE(sealed::write(path, "second\nversion"));
    EXPECT_FALSE(file_exists(path + ".tmp"));
    EXPECT_TRUE(crypto::looks_sealed(read_file(path)));
    EXPECT_EQ(read_file(path).find("second"), std::string::npos); // not stored in the clear

    std::string plain = "stale";
    EXPECT_EQ(sealed::read(path, &plain), sealed::Result::Ok);
    EXPECT_EQ(plain, "second\nversion");

    ASSERT_TRUE(sealed::write(path, ""));
    EXPECT_EQ(read_file(path).size(), 45u);
    EXPECT_EQ(sealed::read(path, &plain), sealed::Result::Ok);
    EXPECT_EQ(plain, "");
}

TEST(SealedFile, FailedWriteKeepsTheOldFile)
{
    TempDir dir;
    std::string path = dir.file("state.dat");
    ASSERT_TRUE(sealed::write(path, "good"));
    std::string before = read_file(path);

    // A full disk: every write to the temporary file fails with ENOSPC.
    ASSERT_EQ(symlink("/dev/full", (path + ".tmp").c_str()), 0);
    EXPECT_FALSE(sealed::write(path, "new"));
    EXPECT_EQ(read_file(path), before);
    struct stat st {};
    EXPECT_NE(lstat((path + ".tmp").c_str(), &st), 0) << "temporary file left behind";

    // The temporary name cannot be created at all.
    ASSERT_EQ(mkdir((path + ".tmp").c_str(), 0700), 0);
    EXPECT_FALSE(sealed::write(path, "new"));
    EXPECT_EQ(read_file(path), before);
    rmdir((path + ".tmp").c_str());

    // The rename fails: the target is a directory that is not empty.
    std::string target = dir.file("busy");
    ASSERT_EQ(mkdir(target.c_str(), 0700), 0);
    ASSERT_TRUE(write_file(target + "/inside", "x"));
    EXPECT_FALSE(sealed::write(target, "new"));
    EXPECT_FALSE(file_exists(target + ".tmp"));

    EXPECT_FALSE(sealed::write(dir.file("no/such/dir/file.dat"), "x"));

    std::string plain;
    EXPECT_EQ(sealed::read(path, &plain), sealed::Result::Ok);
    EXPECT_EQ(plain, "good");
}

TEST(SealedFile, MissingAndEmptyFilesStayPut)
{
    TempDir dir;
    std::string plain = "stale";
    EXPECT_EQ(sealed::read(dir.file("absent"), &plain), sealed::Result::Missing);
    EXPECT_EQ(plain, "");

    std::string empty = dir.file("empty");
    ASSERT_TRUE(write_file(empty, ""));
    EXPECT_EQ(sealed::read(empty, &plain), sealed::Result::Missing);
    EXPECT_TRUE(file_exists(empty));
    EXPECT_FALSE(file_exists(empty + ".manipuliert"));

    EXPECT_EQ(sealed::read(dir.path(), &plain), sealed::Result::Missing);
    EXPECT_FALSE(file_exists(dir.path() + ".manipuliert"));
}

TEST(SealedFile, BrokenSealsAreMovedAside)
{
    TempDir dir;
    struct Case {
        const char* name;
        std::string content;
    };
    std::string flipped = known_blob();
    flipped[50] ^= 0x10;
    const Case cases[] = {
        { "short", std::string("QXFA\x01", 5) + std::string(39, 'a') },
        { "plain", "language=de\nfont=20\n" },
        { "flipped", flipped },
    };
    for (const auto& c : cases) {
        std::string path = dir.file(c.name);
        ASSERT_TRUE(write_file(path, c.content));
        // An older copy aside is replaced by the newer broken file.
        ASSERT_TRUE(write_file(path + ".manipuliert", "older"));
        std::string plain = "stale";
        EXPECT_EQ(sealed::read(path, &plain), sealed::Result::Tampered) << c.name;
        EXPECT_EQ(plain, "");
        EXPECT_FALSE(file_exists(path)) << c.name;
        EXPECT_EQ(read_file(path + ".manipuliert"), c.content) << c.name;
        EXPECT_TRUE(tail_has("seal broken, moved aside: " + path + ".manipuliert")) << c.name;
    }
}
