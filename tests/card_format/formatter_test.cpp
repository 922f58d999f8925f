// FormatFat32 on sparse card images: its output, its refusals and failures, and the volumes it
// writes as the standard FAT tools (fsck.fat, mtools, libblkid) see them.
#include <blkid/blkid.h>
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <regex>
#include <sstream>

#include "card_format/card_format.h"
#include "card_format/fat32_formatter.h"
#include "platform/volume_label.h"
#include "test_support.h"

namespace orvik::card_format {
namespace {
using namespace testing;
using ::testing::HasSubstr;

constexpr std::uint64_t GiB = 1ull << 30;

struct Formatted {
    int code = -1;
    std::string out, err;
};

Formatted format(const std::string& image, std::uint8_t spc = 128, std::uint32_t sectorSize = 512,
                 std::uint32_t volumeId = 0x12345678) {
    std::ostringstream out, err;
    FormatOptions o;
    o.out = &out;
    o.err = &err;
    o.volumeId = volumeId;
    o.imageSectorSize = sectorSize;
    FormatParams p;
    p.sectorsPerCluster = spc;
    Formatted f;
    f.code = FormatFat32(image, p, o);
    f.out = out.str();
    f.err = err.str();
    return f;
}

// The timing figures differ from run to run.
std::string withoutTiming(const std::string& s) {
    return std::regex_replace(s, std::regex("in [0-9.]+ seconds, [0-9.a-z]+ Megabytes/sec"),
                              "in T seconds, R Megabytes/sec");
}

TEST(FormatFat32, PrintsEveryLineInOrder) {
    TempDir dir;
    const std::string img = (dir / "card.img");
    ASSERT_TRUE(makeSparseImage(img, 62521344ull * 512));
    Formatted f = format(img);
    ASSERT_EQ(f.code, 0) << f.err;
    EXPECT_EQ(f.err, "");
    EXPECT_EQ(withoutTiming(f.out),
              "Warning ALL data on drive '" + img +
                  "' will be lost irretrievably, are you sure\n(y/n) :\n"
                  "Size : 32GB 62521344 sectors\n"
                  "512 Bytes Per Sector, Cluster size 65536 bytes\n"
                  "Volume ID is 1234:5678\n"
                  "32 Reserved Sectors, 3816 Sectors per FAT, 2 fats\n"
                  "488388 Total clusters\n"
                  "488387 Free Clusters\n"
                  "Formatting drive " +
                  img +
                  "...\n"
                  "Clearing out 7792 sectors for Reserved sectors, fats and root cluster...\n"
                  "Wrote 3989504 bytes in T seconds, R Megabytes/sec\n"
                  "Initialising reserved sectors and FATs...\n"
                  "Done\n");
    // Only the system area was touched: the image stays sparse.
    EXPECT_LT(allocatedBytes(img), 4u << 20);
}

// Hex dump of the interesting sectors, runs of zero lines shown as "*".
std::string dumpSectors(const std::string& img, std::uint64_t from, std::uint64_t count) {
    std::string data = readBytes(img, from * 512, count * 512);
    std::ostringstream os;
    bool inZeros = false;
    for (std::size_t off = 0; off < data.size(); off += 16) {
        std::string line = data.substr(off, 16);
        if (line == std::string(16, '\0')) {
            if (!inZeros)
                os << "*\n";
            inZeros = true;
            continue;
        }
        inZeros = false;
        char head[32];
        std::snprintf(head, sizeof head,
                      "%08llx:", static_cast<unsigned long long>(from * 512 + off));
        os << head;
        for (unsigned char c : line) {
            char h[4];
            std::snprintf(h, sizeof h, " %02x", c);
            os << h;
        }
        os << "  ";
        for (unsigned char c : line)
            os << (c >= 0x20 && c < 0x7f ? static_cast<char>(c) : '.');
        os << "\n";
    }
    return os.str();
}

TEST(FormatFat32, GoldenSystemArea) {
    TempDir dir;
    const std::string img = (dir / "card.img");
    ASSERT_TRUE(makeSparseImage(img, 8 * GiB));
    ASSERT_EQ(format(img, 128, 512, 0x0805ABCD).code, 0);
    // Boot, FSInfo, their backups and the first FAT sector; then the second FAT's first sector
    // and the root directory's cluster.
    std::string dump = "sectors 0-32\n" + dumpSectors(img, 0, 33) + "sectors 1056-1056\n" +
                       dumpSectors(img, 32 + 1024, 1) + "sectors 2080-2207\n" +
                       dumpSectors(img, 2080, 128);
    orvik::test::expectGolden("card_format/golden/fat32_8gib.dump", dump);
}

TEST(FormatFat32, TooFewClustersOrTooBigWritesNothing) {
    TempDir dir;
    struct Case {
        std::uint64_t bytes;
        int code;
        const char* message;
    } cases[] = {
        {1 * GiB, kFormatTooFewClusters, "FAT32 must have at least 65536 clusters"},
        {4000000000ull, kFormatTooFewClusters, "FAT32 must have at least 65536 clusters"},
        {0xFFFFFFFFull * 512, kFormatTooBig,
         "This drive is too big for FAT32 - max 2TB supported\n\n"},
        {65535ull * 512, kFormatTooSmall, "This drive is too small for FAT32"},
    };
    for (const auto& c : cases) {
        const std::string img = (dir / "card.img");
        ASSERT_TRUE(makeSparseImage(img, c.bytes));
        // Old contents at the start, where a format would write first.
        std::string old(64 * 1024, '\0');
        for (std::size_t i = 0; i < old.size(); ++i)
            old[i] = static_cast<char>(i * 7 + 1);
        writeBytes(img, 0, old);
        const std::uint64_t before = allocatedBytes(img);
        Formatted f = format(img);
        EXPECT_EQ(f.code, c.code) << c.bytes;
        EXPECT_THAT(f.err, HasSubstr(c.message));
        EXPECT_THAT(f.out, ::testing::Not(HasSubstr("Clearing out")));
        EXPECT_EQ(readBytes(img, 0, old.size()), old) << c.bytes;
        EXPECT_EQ(allocatedBytes(img), before) << c.bytes;
        ASSERT_EQ(::unlink(img.c_str()), 0);
    }
}

TEST(FormatFat32, FailureLinesCarryTheSystemError) {
    TempDir dir;
    std::ostringstream out, err;
    FormatOptions o;
    o.out = &out;
    o.err = &err;
    o.skipTargetCheck = true;
    EXPECT_EQ(FormatFat32((dir / "missing.img"), {}, o), ENOENT);
    EXPECT_THAT(err.str(), HasSubstr("Failed to open device - close any files before formatting"));
    EXPECT_THAT(err.str(),
                HasSubstr("RIGHT DRIVE!!!\nGetLastError()=2: No such file or directory\n"));

    // Someone else holds the image: the lock fails and nothing is written.
    const std::string img = (dir / "held.img");
    ASSERT_TRUE(makeSparseImage(img, 8 * GiB));
    int fd = ::open(img.c_str(), O_RDONLY);
    ASSERT_EQ(::flock(fd, LOCK_EX), 0);
    Formatted f = format(img);
    EXPECT_EQ(f.code, EWOULDBLOCK);
    EXPECT_THAT(f.err, HasSubstr("Failed to lock device\nGetLastError()=11: "));
    EXPECT_EQ(allocatedBytes(img), 0u);
    ::close(fd);
}

TEST(FormatFat32, CancelBeforeTheFirstWriteLeavesTheCard) {
    TempDir dir;
    const std::string img = (dir / "card.img");
    ASSERT_TRUE(makeSparseImage(img, 8 * GiB));
    std::ostringstream out, err;
    FormatOptions o;
    o.out = &out;
    o.err = &err;
    o.sparseImages = false;
    o.cancelRequested = [] { return true; };
    EXPECT_EQ(FormatFat32(img, {128, ""}, o), kFormatCancelled);
    EXPECT_EQ(allocatedBytes(img), 0u);
    // A "no" to the question stops it before the device is opened.
    o.cancelRequested = nullptr;
    o.confirm = [] { return false; };
    EXPECT_EQ(FormatFat32(img, {128, ""}, o), kFormatCancelled);
    EXPECT_EQ(allocatedBytes(img), 0u);
}

TEST(FormatFat32, ReportsProgressUpToTheSystemArea) {
    TempDir dir;
    const std::string img = (dir / "card.img");
    ASSERT_TRUE(makeSparseImage(img, 32 * GiB));
    std::ostringstream out, err;
    FormatOptions o;
    o.out = &out;
    o.err = &err;
    o.sparseImages = false;  // as on a card: real zeros
    std::vector<std::uint64_t> seen;
    std::uint64_t total = 0;
    o.progress = [&](std::uint64_t done, std::uint64_t all) {
        seen.push_back(done);
        total = all;
    };
    ASSERT_EQ(FormatFat32(img, {128, ""}, o), 0) << err.str();
    const std::uint64_t system = planFat32(32 * GiB, 512, 128).layout.systemAreaSectors * 512ull;
    EXPECT_EQ(total, system);
    ASSERT_GE(seen.size(), 3u);
    EXPECT_EQ(seen.front(), 0u);
    EXPECT_EQ(seen.back(), system);
    EXPECT_TRUE(std::is_sorted(seen.begin(), seen.end()));
    // 128-sector chunks.
    EXPECT_EQ(seen[1], 128u * 512);
    // Real zeros allocate the system area and nothing beyond it.
    EXPECT_GE(allocatedBytes(img), system);
    EXPECT_LT(allocatedBytes(img), system + (1u << 20));
    EXPECT_EQ(run("fsck.fat -n " + quote(img)).status, 0);
}

// ---- The standard FAT tools ----

class FatTools : public ::testing::Test {
  protected:
    void SetUp() override {
        for (const char* tool : {"fsck.fat", "minfo", "mcopy", "mmd", "mdir"}) {
            if (!haveTool(tool))
                GTEST_SKIP() << tool << " is not installed (dosfstools, mtools)";
        }
    }
};

std::string mtoolsEnv() {
    return "MTOOLS_SKIP_CHECK=1 MTOOLS_NO_VFAT=0 ";
}

void expectFsckClean(const std::string& img, const std::string& when) {
    RunResult r = run("fsck.fat -n -v " + quote(img));
    EXPECT_EQ(r.status, 0) << when << ":\n" << r.out;
    EXPECT_THAT(r.out, ::testing::Not(HasSubstr("differ")));  // boot sector vs backup
    EXPECT_THAT(r.out, ::testing::Not(HasSubstr("Free cluster summary wrong")));
}

std::string blkidValue(const std::string& img, const char* name) {
    blkid_probe pr = blkid_new_probe_from_filename(img.c_str());
    if (!pr)
        return "";
    blkid_probe_enable_superblocks(pr, 1);
    blkid_probe_set_superblocks_flags(pr, BLKID_SUBLKS_TYPE | BLKID_SUBLKS_LABEL);
    std::string out;
    const char* v = nullptr;
    if (blkid_do_safeprobe(pr) == 0 && blkid_probe_lookup_value(pr, name, &v, nullptr) == 0)
        out = v;
    blkid_free_probe(pr);
    return out;
}

// Writes a 10 MB file and a small folder tree with mtools, reads them back, checks fsck again.
void roundTrip(const TempDir& dir, const std::string& img) {
    const std::string big = (dir / "big.bin");
    {
        std::ofstream f(big, std::ios::binary);
        std::uint32_t x = 12345;
        for (int i = 0; i < 10 * 1000 * 1000 / 4; ++i) {
            x = x * 1664525u + 1013904223u;
            f.write(reinterpret_cast<const char*>(&x), 4);
        }
    }
    std::filesystem::create_directories((dir / "tree/Event/front"));
    std::ofstream((dir / "tree/Event/front/a.txt")) << "front clip index\n";
    std::ofstream((dir / "tree/readme with spaces.txt")) << "hello card\n";
    const std::string i = " -i " + quote(img) + " ";
    RunResult put = run(mtoolsEnv() + "mcopy" + i + quote(big) + " ::/BIG.BIN && " + mtoolsEnv() +
                        "mcopy -s" + i + quote((dir / "tree")) + " ::/");
    ASSERT_EQ(put.status, 0) << put.out;
    RunResult get =
        run(mtoolsEnv() + "mcopy -n" + i + "::/BIG.BIN " + quote((dir / "big.back")) + " && " +
            mtoolsEnv() + "mcopy -s -n" + i + "::/tree " + quote((dir / "back")));
    ASSERT_EQ(get.status, 0) << get.out;
    EXPECT_TRUE(readFile(big) == readFile((dir / "big.back"))) << "10 MB file differs";
    EXPECT_EQ(readFile((dir / "back/Event/front/a.txt")), "front clip index\n");
    EXPECT_EQ(readFile((dir / "back/readme with spaces.txt")), "hello card\n");
    expectFsckClean(img, "after mcopy");
}

struct SizeCase {
    const char* name;
    std::uint64_t bytes;
    std::uint32_t sectorSize;
    std::uint8_t spc;
};

class FatToolsBySize : public FatTools, public ::testing::WithParamInterface<SizeCase> {};

TEST_P(FatToolsBySize, ToolsAcceptTheVolume) {
    const SizeCase& c = GetParam();
    TempDir dir;
    const std::string img = (dir / "card.img");
    ASSERT_TRUE(makeSparseImage(img, c.bytes));
    Formatted f = format(img, c.spc, c.sectorSize);
    ASSERT_EQ(f.code, 0) << f.err;
    const Fat32Layout l = planFat32(c.bytes, c.sectorSize, c.spc).layout;
    // Sparse: only a few blocks per FAT are really stored.
    EXPECT_LT(allocatedBytes(img), 1u << 20) << "du of the image";
    expectFsckClean(img, "fresh");

    if (c.bytes / c.sectorSize < 0xF0000000ull) {
        // (mtools' own sector arithmetic overflows just below 2^32 sectors, on any formatter's
        // volume, so the largest size is checked through mdir/mcopy alone.)
        RunResult info = run(mtoolsEnv() + "minfo -i " + quote(img) + " ::");
        ASSERT_EQ(info.status, 0) << info.out;
        EXPECT_THAT(info.out, HasSubstr("sector size: " + std::to_string(c.sectorSize) + " bytes"));
        EXPECT_THAT(info.out, HasSubstr("cluster size: " + std::to_string(c.spc) + " sectors"));
        EXPECT_THAT(info.out, HasSubstr("reserved (boot) sectors: 32\n"));
        EXPECT_THAT(info.out, HasSubstr("fats: 2\n"));
        EXPECT_THAT(info.out,
                    HasSubstr("big size: " + std::to_string(l.totalSectors) + " sectors"));
        EXPECT_THAT(info.out, HasSubstr("Big fatlen=" + std::to_string(l.fatSizeSectors) + "\n"));
        EXPECT_THAT(info.out, HasSubstr("sectors per track: 63\nheads: 255\n"));
        EXPECT_THAT(info.out, HasSubstr("free clusters=" + std::to_string(l.freeClusters) + "\n"));
        EXPECT_THAT(info.out, HasSubstr("serial number: 12345678"));
    }
    if (c.sectorSize == 512) {
        roundTrip(dir, img);
    } else {
        RunResult d = run(mtoolsEnv() + "mdir -i " + quote(img) + " ::");
        EXPECT_EQ(d.status, 0) << d.out;
    }
    EXPECT_EQ(blkidValue(img, "TYPE"), "vfat");
}

INSTANTIATE_TEST_SUITE_P(Images, FatToolsBySize,
                         ::testing::Values(SizeCase{"8GiB", 8 * GiB, 512, 128},
                                           SizeCase{"32GiB", 32 * GiB, 512, 128},
                                           SizeCase{"64GiB", 64 * GiB, 512, 128},
                                           SizeCase{"128GiB", 128 * GiB, 512, 128},
                                           SizeCase{"Largest", 0xFFFFFFFEull * 512, 512, 128},
                                           SizeCase{"Sectors4096", 16 * GiB, 4096, 16}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(FatTools, LargeSectorImageSignatures) {
    TempDir dir;
    const std::string img = (dir / "card4k.img");
    ASSERT_TRUE(makeSparseImage(img, 16 * GiB));
    ASSERT_EQ(format(img, 16, 4096).code, 0);
    for (std::uint64_t sector : {0ull, 6ull}) {
        std::string b = readBytes(img, sector * 4096, 4096);
        EXPECT_EQ(b.substr(510, 2), "\x55\xAA") << sector;
        EXPECT_EQ(b.substr(4094, 2), "\x55\xAA") << sector;
        EXPECT_EQ(le16(b, 11), 4096u);
    }
    for (std::uint64_t sector : {1ull, 7ull}) {
        std::string f = readBytes(img, sector * 4096, 4096);
        EXPECT_EQ(f.substr(0, 4), "RRaA");
        EXPECT_EQ(f.substr(484, 4), "rrAa");
        EXPECT_EQ(f.substr(508, 4), std::string("\0\0\x55\xAA", 4));
        EXPECT_EQ(f.substr(4094, 2), "\x55\xAA");
    }
    expectFsckClean(img, "4096-byte sectors");
}

TEST_F(FatTools, LabelStepGivesTheCameraLabel) {
    TempDir dir;
    const std::string img = (dir / "card.img");
    ASSERT_TRUE(makeSparseImage(img, 8 * GiB));
    ASSERT_EQ(format(img).code, 0);
    auto r = platform::writeFatLabel(img, platform::kCameraLabel);
    ASSERT_TRUE(r) << r.error();
    EXPECT_EQ(blkidValue(img, "TYPE"), "vfat");
    EXPECT_EQ(blkidValue(img, "LABEL"), "ORVIK");
    expectFsckClean(img, "labelled");
}

}  // namespace
}  // namespace orvik::card_format
