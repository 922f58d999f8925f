// SHA-256 of bytes and files: the published test vectors, files read once with every chunk
// handed on, and files that change while they are read.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>

#include "platform/sha256.h"

#include "platform/crc32c.h"
#include "support/test_support.h"

namespace orvik::platform {
namespace {

using orvik::test::TempDir;

TEST(Sha256, PublishedVectorsAndIncrementalUpdates) {
    EXPECT_EQ(toHex(sha256Of("")),
              "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855");
    EXPECT_EQ(toHex(sha256Of("abc")),
              "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");
    // A million "a", given in pieces that cut the 64-byte blocks anywhere.
    Sha256 h;
    const std::string piece(999, 'a');
    for (int i = 0; i < 1001; ++i)
        h.update(piece);  // 999 999 bytes
    h.update("a");
    EXPECT_EQ(toHex(h.finish()),
              "cdc76e5c9914fb9281a1c7e284d73e67f1809a48a497200e046d39ccc7112cd0");
    // finish() leaves the object ready for the next message.
    h.update("abc");
    EXPECT_EQ(toHex(h.finish()),
              "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");
}

TEST(Sha256, HexRoundTripRefusesWhatIsNotADigest) {
    const Sha256Digest d = sha256Of("abc");
    EXPECT_EQ(digestFromHex(toHex(d)), d);
    std::string upper = toHex(d);
    for (char& c : upper)
        c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    EXPECT_EQ(digestFromHex(upper), d);
    EXPECT_FALSE(digestFromHex(toHex(d).substr(1)));
    EXPECT_FALSE(digestFromHex(toHex(d) + "0"));
    EXPECT_FALSE(digestFromHex(std::string(63, '0') + "g"));
    EXPECT_FALSE(digestFromHex(""));
}

TEST(Crc32c, PublishedCheckValueAndIncrementalUpdates) {
    const std::string text = "123456789";
    const std::span<const std::uint8_t> bytes(reinterpret_cast<const std::uint8_t*>(text.data()),
                                              text.size());
    EXPECT_EQ(crc32c(0, bytes), 0xE3069283u);
    EXPECT_EQ(crc32c(crc32c(0, bytes.first(4)), bytes.subspan(4)), 0xE3069283u);
    EXPECT_EQ(crc32c(0, {}), 0u);
    // 32 zero bytes (RFC 3720's example).
    const std::vector<std::uint8_t> zeros(32, 0);
    EXPECT_EQ(crc32c(0, zeros), 0x8A9136AAu);
}

// The fast path runs over blocks of three stretches at once and joins them; a bit-at-a-time
// reference must agree at every length around a block's edges, at any alignment, continued.
TEST(Crc32c, AgreesWithABitwiseReferenceAcrossBlockEdgesAndAlignments) {
    const auto reference = [](std::uint32_t crc, std::span<const std::uint8_t> bytes) {
        std::uint32_t c = ~crc;
        for (std::uint8_t b : bytes) {
            c ^= b;
            for (int k = 0; k < 8; ++k)
                c = (c & 1) ? (c >> 1) ^ 0x82F63B78u : c >> 1;
        }
        return ~c;
    };
    std::vector<std::uint8_t> data(3 * 3 * 8192 + 64);
    std::uint32_t x = 12345;
    for (auto& b : data) {
        x = x * 1103515245u + 12345u;
        b = static_cast<std::uint8_t>(x >> 23);
    }
    const std::span<const std::uint8_t> all(data);
    for (std::size_t offset : {0u, 1u, 3u, 7u}) {
        for (std::size_t length :
             {0u, 7u, 8191u, 24575u, 24576u, 24577u, 24584u, 49152u, 73727u, 73728u, 73729u}) {
            const auto bytes = all.subspan(offset, length);
            EXPECT_EQ(crc32c(0, bytes), reference(0, bytes)) << offset << "+" << length;
            EXPECT_EQ(crc32c(0xDEADBEEF, bytes), reference(0xDEADBEEF, bytes))
                << offset << "+" << length;
        }
    }
    const std::uint32_t whole = reference(0, all);
    EXPECT_EQ(crc32c(crc32c(0, all.first(30001)), all.subspan(30001)), whole);
    EXPECT_EQ(crc32c(0, all), whole);
}

TEST(HashFile, ReadsOnceAndHandsOnEveryChunkInOrder) {
    TempDir dir;
    // Three and a bit of the reader's chunks, with bytes that differ from chunk to chunk.
    std::string content;
    for (int i = 0; i < (3 << 20) + 12345; ++i)
        content += static_cast<char>((i * 131 + i / 4096) & 0xFF);
    const auto path = dir.touch("recording.mp4", content);
    std::string copy;
    int chunks = 0;
    auto hashed = hashFile(path.string(), [&](std::span<const std::uint8_t> chunk) {
        copy.append(reinterpret_cast<const char*>(chunk.data()), chunk.size());
        ++chunks;
        return true;
    });
    ASSERT_TRUE(hashed) << hashed.error();
    EXPECT_EQ(hashed->digest, sha256Of(content));
    EXPECT_EQ(hashed->stamp.size, content.size());
    EXPECT_EQ(copy, content);
    EXPECT_GE(chunks, 4);
    EXPECT_EQ(*stampOf(path.string()), hashed->stamp);
    const std::span<const std::uint8_t> all(reinterpret_cast<const std::uint8_t*>(content.data()),
                                            content.size());
    EXPECT_EQ(hashed->crc32c, crc32c(0, all));
    EXPECT_EQ(*crc32cOfFile(path.string()), hashed->crc32c);

    auto empty = hashFile(dir.touch("empty").string());
    ASSERT_TRUE(empty);
    EXPECT_EQ(toHex(empty->digest), toHex(sha256Of("")));
}

TEST(HashFile, AFileThatChangesWhileItIsReadFails) {
    TempDir dir;
    const std::string content(3 << 20, 'x');
    const auto path = dir.touch("recording.mp4", content);

    // Grows under the reader (the camera or another program still writing it).
    auto grown = hashFile(path.string(), [&](std::span<const std::uint8_t>) {
        std::ofstream(path, std::ios::app) << "more";
        return true;
    });
    ASSERT_FALSE(grown);
    EXPECT_NE(grown.error().find("changed while it was read"), std::string::npos) << grown.error();

    // Rewritten in place at the same size: only the modification time tells.
    orvik::test::writeFile(path, content);
    bool once = false;
    auto rewritten = hashFile(path.string(), [&](std::span<const std::uint8_t>) {
        if (!once) {
            once = true;
            std::fstream f(path, std::ios::in | std::ios::out | std::ios::binary);
            f.seekp(10);
            f.put('y');
            f.close();
            // A clock with coarse ticks must still see a new time.
            struct timespec times[2] = {{0, UTIME_OMIT}, {1, 0}};
            ::utimensat(AT_FDCWD, path.c_str(), times, 0);
        }
        return true;
    });
    EXPECT_FALSE(rewritten);

    // Replaced by another file under the same name.
    orvik::test::writeFile(path, content);
    const auto other = dir.touch("other", content);
    auto replaced =
        hashFile(path.string(), [&, done = false](std::span<const std::uint8_t>) mutable {
            if (!done)
                std::filesystem::rename(other, path);
            done = true;
            return true;
        });
    EXPECT_FALSE(replaced);
}

TEST(HashFile, RefusesWhatIsNotARegularFileAndCanBeCancelled) {
    TempDir dir;
    const std::string fifo = dir / "fifo.mp4";
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    auto r = hashFile(fifo);  // must not wait for a writer
    ASSERT_FALSE(r);
    EXPECT_NE(r.error().find("not a regular file"), std::string::npos);
    EXPECT_FALSE(hashFile(dir.str()));
    auto missing = hashFile(dir / "missing.mp4");
    ASSERT_FALSE(missing);
    EXPECT_NE(missing.error().find("missing.mp4"), std::string::npos);

    const auto path = dir.touch("recording.mp4", std::string(1 << 21, 'z'));
    auto cancelled = hashFile(path.string(), [](std::span<const std::uint8_t>) { return false; });
    ASSERT_FALSE(cancelled);
    EXPECT_EQ(cancelled.error(), "cancelled");
}

}  // namespace
}  // namespace orvik::platform
