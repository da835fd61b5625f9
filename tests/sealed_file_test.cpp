// Sealed blobs (known answers, tampering) and sealed files on disk
// (atomic replacement, failed writes, broken seals moved aside).
#include "logger.h"
#include "save_crypt.h"
#include "sealed_file.h"
#include "testutil.h"

#include <gtest/gtest.h>

#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <filesystem>
#include <thread>
#include <tuple>

using namespace testutil;
using crypto::ReadResult;

namespace {

std::string unhex(const std::string& hex)
{
    std::string out;
    for (size_t i = 0; i + 1 < hex.size(); i += 2)
        out.push_back(char(std::stoi(hex.substr(i, 2), nullptr, 16)));
    return out;
}

const std::string kHeader("QXFA\x01", 5);

// "font=100\n" sealed with an all-zero nonce: header, nonce, tag, ciphertext.
std::string known_blob()
{
    return kHeader + std::string(24, '\0') + unhex("1a90ae07985c9da2dfb8cc27c12a547d") + unhex("32cbda022dadcdeae6");
}

} // namespace

TEST(Crypt, KnownKeyKnownSealAndTampering)
{
    uint8_t key[crypto::kKeySize];
    crypto::derive_key(key);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(key), sizeof key),
        unhex("f125182000fa8aa01af4c61b856057ab6c50cf8f7f8073ee4015c75179bdf9be"));
    const std::string blob = known_blob();
    EXPECT_EQ(crypto::decrypt(blob, nullptr), ReadResult::Ok);
    std::string version2 = blob;
    version2[4] = 2;
    const std::tuple<std::string, ReadResult, std::string> cases[] = {
        { blob, ReadResult::Ok, "font=100\n" },
        { version2, ReadResult::Tampered, "" },
        { blob.substr(0, blob.size() - 1), ReadResult::Tampered, "" },
        { blob + "x", ReadResult::Tampered, "" },
        { kHeader + std::string(39, '\0'), ReadResult::Tampered, "" }, // one byte short of a header
        { "", ReadResult::NotFound, "" },
    };
    for (const auto& [input, want, text] : cases) {
        std::string plain = "stale";
        EXPECT_EQ(crypto::decrypt(input, &plain), want) << input.size();
        EXPECT_EQ(plain, text);
    }
    for (size_t byte = 0; byte < blob.size(); ++byte) {
        for (int bit = 0; bit < 8; ++bit) {
            std::string bad = blob, plain = "stale";
            bad[byte] = char(bad[byte] ^ (1 << bit));
            ASSERT_EQ(crypto::decrypt(bad, &plain), ReadResult::Tampered) << "byte " << byte << " bit " << bit;
            ASSERT_EQ(plain, "");
        }
    }
    // Only the magic and the length make a blob look sealed; the version is not examined.
    EXPECT_TRUE(crypto::looks_sealed(std::string("QXFA\x07", 5) + std::string(40, 'z')));
    EXPECT_FALSE(crypto::looks_sealed(kHeader + std::string(39, '\0')));
    EXPECT_FALSE(crypto::looks_sealed("QXFB" + std::string(41, 'z')));
}

TEST(SealedFile, RoundTripsWithFreshNoncesAndAtomicReplace)
{
    TempDir dir;
    std::string path = dir.file("settings.dat");
    const std::string texts[] = { "first", std::string("language=de\nrecent=/a\x1f/b\n\0", 26), "" };
    for (const std::string& text : texts) {
        ASSERT_TRUE(sealed::write(path, text));
        EXPECT_FALSE(file_exists(path + ".tmp"));
        std::string a = read_file(path), b = crypto::encrypt(text), plain = "stale";
        ASSERT_EQ(a.size(), crypto::kHeaderSize + text.size());
        EXPECT_EQ(a.substr(0, 5), kHeader);
        EXPECT_NE(a.substr(5, 24), b.substr(5, 24));
        EXPECT_TRUE(text.empty() || a.find(text.substr(0, 4)) == std::string::npos); // not stored in the clear
        EXPECT_EQ(sealed::read(path, &plain), sealed::Result::Ok);
        EXPECT_EQ(plain, text);
        EXPECT_EQ(crypto::decrypt(b, &plain), ReadResult::Ok);
        EXPECT_EQ(plain, text);
    }
}

namespace {

// Names in the folder that begin with `prefix`.
std::vector<std::string> names_with(const std::string& dir, const std::string& prefix)
{
    std::vector<std::string> out;
    for (const auto& e : std::filesystem::directory_iterator(dir)) {
        std::string name = e.path().filename().string();
        if (name.rfind(prefix, 0) == 0)
            out.push_back(name);
    }
    std::sort(out.begin(), out.end());
    return out;
}

} // namespace

TEST(SealedFile, FailedWriteKeepsTheOldFile)
{
    TempDir dir;
    std::string path = dir.file("state.dat");
    ASSERT_TRUE(sealed::write(path, "good"));
    std::string before = read_file(path);

    // A full disk: the file size limit makes every longer write fail.
    {
        auto old_handler = signal(SIGXFSZ, SIG_IGN);
        rlimit old {};
        getrlimit(RLIMIT_FSIZE, &old);
        rlimit tiny = old;
        tiny.rlim_cur = 10;
        ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &tiny), 0);
        bool wrote = sealed::write(path, "new");
        setrlimit(RLIMIT_FSIZE, &old);
        signal(SIGXFSZ, old_handler);
        EXPECT_FALSE(wrote);
    }
    EXPECT_EQ(read_file(path), before);
    EXPECT_EQ(names_with(dir.path(), "state.dat.tmp"), std::vector<std::string> {}) << "temporary file left behind";

    // The rename fails: the target is a directory that is not empty.
    std::string target = dir.file("busy");
    ASSERT_EQ(mkdir(target.c_str(), 0700), 0);
    ASSERT_TRUE(write_file(target + "/inside", "x"));
    EXPECT_FALSE(sealed::write(target, "new"));
    EXPECT_EQ(names_with(dir.path(), "busy.tmp"), std::vector<std::string> {});
    EXPECT_FALSE(sealed::write(dir.file("no/such/dir/file.dat"), "x"));

    std::string plain;
    EXPECT_EQ(sealed::read(path, &plain), sealed::Result::Ok);
    EXPECT_EQ(plain, "good");
}

// Links planted at the temporary name of old and at the target itself are
// replaced, never written through, and writers side by side never share a
// temporary file.
TEST(SealedFile, PlantedLinksAndConcurrentWriters)
{
    TempDir dir;
    std::string precious = dir.file("precious"), path = dir.file("settings.dat");
    ASSERT_TRUE(write_file(precious, "keep me"));
    ASSERT_EQ(symlink(precious.c_str(), (path + ".tmp").c_str()), 0);
    ASSERT_EQ(symlink(precious.c_str(), path.c_str()), 0);
    ASSERT_TRUE(sealed::write(path, "mine"));
    EXPECT_EQ(read_file(precious), "keep me");
    struct stat st {};
    ASSERT_EQ(lstat(path.c_str(), &st), 0);
    EXPECT_TRUE(S_ISREG(st.st_mode)) << "the link was replaced by the file";
    EXPECT_EQ(st.st_mode & 077, 0u) << "sealed files are private";

    // Four writers, each many times: every read sees one writer's whole text.
    std::vector<std::thread> writers;
    std::atomic<int> failed { 0 };
    for (int w = 0; w < 4; ++w)
        writers.emplace_back([&, w] {
            for (int i = 0; i < 50; ++i)
                if (!sealed::write(path, "writer " + std::to_string(w) + std::string(1000 * w, 'x')))
                    ++failed;
        });
    for (auto& t : writers)
        t.join();
    EXPECT_EQ(failed.load(), 0);
    std::string plain;
    ASSERT_EQ(sealed::read(path, &plain), sealed::Result::Ok);
    EXPECT_EQ(plain.rfind("writer ", 0), 0u);
    EXPECT_EQ(plain.size(), 8 + 1000 * size_t(plain[7] - '0'));
    EXPECT_EQ(names_with(dir.path(), "settings.dat.tmp-"), std::vector<std::string> {});
}

TEST(SealedFile, ReadOutcomes)
{
    TempDir dir;
    std::string flipped = known_blob();
    flipped[50] ^= 0x10;
    struct Case {
        std::string name, content; // no content: no file is written
        sealed::Result want;
    } cases[] = {
        { "absent", "", sealed::Result::Missing },
        { "empty", "", sealed::Result::Missing },
        { "", "", sealed::Result::Missing }, // the directory itself
        { "short", kHeader + std::string(39, 'a'), sealed::Result::Tampered },
        { "plain", "language=de\nfont=20\n", sealed::Result::Tampered },
        { "flipped", flipped, sealed::Result::Tampered },
    };
    ASSERT_TRUE(write_file(dir.file("empty"), ""));
    for (const auto& c : cases) {
        std::string path = c.name.empty() ? dir.path() : dir.file(c.name), plain = "stale";
        if (!c.content.empty()) {
            ASSERT_TRUE(write_file(path, c.content));
        }
        EXPECT_EQ(sealed::read(path, &plain), c.want) << c.name;
        EXPECT_EQ(plain, "");
        bool moved = c.want == sealed::Result::Tampered;
        EXPECT_EQ(file_exists(path), !moved && c.name != "absent") << c.name;
        EXPECT_EQ(read_file(path + ".manipuliert"), moved ? c.content : "") << c.name;
        auto log = logger::tail(500);
        std::string note = "seal broken, moved aside: " + path + ".manipuliert";
        auto noted = [&](const std::string& l) { return l.find(note) != std::string::npos; };
        EXPECT_EQ(std::any_of(log.begin(), log.end(), noted), moved) << c.name;
    }
}

// Each broken file is kept: later ones get numbers, and a link planted at
// a name aside is skipped, not written through.
TEST(SealedFile, EveryBrokenCopyIsKept)
{
    TempDir dir;
    std::string path = dir.file("settings.dat"), aside = path + ".manipuliert";
    ASSERT_TRUE(write_file(dir.file("precious"), "keep me"));
    std::string plain;
    for (const char* text : { "first", "second", "third" }) {
        ASSERT_TRUE(write_file(path, text));
        EXPECT_EQ(sealed::read(path, &plain), sealed::Result::Tampered);
        if (std::string(text) == "second") {
            ASSERT_EQ(symlink(dir.file("precious").c_str(), (aside + ".3").c_str()), 0);
        }
    }
    EXPECT_EQ(read_file(aside), "first");
    EXPECT_EQ(read_file(aside + ".2"), "second");
    EXPECT_EQ(read_file(aside + ".4"), "third");
    EXPECT_EQ(read_file(dir.file("precious")), "keep me");
    auto log = logger::tail(500);
    EXPECT_NE(std::find_if(log.begin(), log.end(),
                           [&](const std::string& l) { return l.ends_with("moved aside: " + aside + ".4"); }),
              log.end());
}
