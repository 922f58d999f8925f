#include "device_config/device_config.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <filesystem>

#include "device_config/test_support.h"
#include "device_config/validation.h"
#include "platform/commit_writer.h"
#include "platform/volume_label.h"

namespace dc = orvik::device_config;
using orvik::platform::Volume;
using orvik::test::readBytes;
using orvik::test::TempDir;
using orvik::test::writeBytes;

namespace {

// Offsets of the words no setting uses.
std::vector<std::size_t> reservedOffsets() {
    std::vector<bool> used(dc::kWordCount, false);
    used[0] = true;
    for (const auto& f : dc::fieldTable())
        used[f.offset / 4] = true;
    std::vector<std::size_t> out;
    for (std::size_t i = 0; i < dc::kWordCount; ++i)
        if (!used[i])
            out.push_back(i * 4);
    return out;
}

Volume card(const std::string& root, const std::string& label = "") {
    Volume v;
    v.mountPoint = root;
    v.label = label;
    v.simulated = true;
    return v;
}

std::vector<std::uint8_t> validFileBytes(std::uint32_t frontQuality = 2) {
    dc::DeviceConfig c;
    c.setFrontQuality(frontQuality);
    auto b = c.finalizedBytes();
    return {b.begin(), b.end()};
}

}  // namespace

TEST(DeviceConfigImage, DefaultFileBeginsWithMagicAndChecksum) {
    TempDir dir;
    auto out = dc::writeConfigFile(dir / "config_K7x7.bin", dc::DeviceConfig());
    ASSERT_TRUE(out.saved()) << out.error;
    auto bytes = readBytes(dir / "config_K7x7.bin");
    ASSERT_EQ(bytes.size(), 624u);
    std::vector<std::uint8_t> head(bytes.begin(), bytes.begin() + 8);
    EXPECT_EQ(head, (std::vector<std::uint8_t>{0x08, 0x15, 0x78, 0x03, 0x01, 0x00, 0x00, 0x00}));
}

TEST(DeviceConfigImage, ResetLeavesChecksumZeroAndEveryDefault) {
    dc::DeviceConfig c;
    c.setWordAt(40, 7);
    c.finalize();
    c.resetToDefaults();
    EXPECT_EQ(c.magic(), 0x1508);
    EXPECT_EQ(c.checksum(), 0);
    EXPECT_EQ(c.wordAt(40), 0u);
    EXPECT_EQ(c.timeZoneIndex(), 28u);
    EXPECT_EQ(c.cutOffVoltage(), 121u);
    EXPECT_EQ(c.fixed272(), 800u);
    EXPECT_EQ(c.computeChecksum(), 0x0378);
}

TEST(DeviceConfigImage, EveryFieldRoundTripsThroughTheFile) {
    TempDir dir;
    dc::DeviceConfig c;
    std::uint32_t n = 0x01020304;
    for (const auto& f : dc::fieldTable()) {
        if (f.kind == dc::FieldKind::Header)
            continue;
        c.setWordAt(f.offset, n);
        n += 0x01010101;
    }
    ASSERT_TRUE(dc::writeConfigFile(dir / "c.bin", c).saved());
    auto back = dc::readConfigFile(dir / "c.bin");
    ASSERT_TRUE(back.ok()) << back.error();
    EXPECT_TRUE(back->checksumValid());
    n = 0x01020304;
    for (const auto& f : dc::fieldTable()) {
        if (f.kind == dc::FieldKind::Header)
            continue;
        EXPECT_EQ(back->wordAt(f.offset), n) << f.name;
        // Little-endian on disk whatever the host.
        auto bytes = back->bytes();
        EXPECT_EQ(bytes[f.offset], n & 0xFF) << f.name;
        EXPECT_EQ(bytes[f.offset + 3], n >> 24) << f.name;
        n += 0x01010101;
    }
}

TEST(DeviceConfigImage, ReservedAndFixedWordsSurviveReadEditWrite) {
    TempDir dir;
    dc::DeviceConfig c;
    auto reserved = reservedOffsets();
    ASSERT_EQ(reserved.size(), 5u * 7 + 54);
    for (auto off : reserved)
        c.setWordAt(off, 0xA5000000u | static_cast<std::uint32_t>(off));
    c.setFixed264(0xDEADBEEF);
    c.setMiddleShareValue(77);
    ASSERT_TRUE(dc::writeConfigFile(dir / "c.bin", c).saved());

    auto loaded = dc::readConfigFile(dir / "c.bin");
    ASSERT_TRUE(loaded.ok());
    loaded->setSpeedUnit(1);
    ASSERT_TRUE(dc::writeConfigFile(dir / "c.bin", *loaded).saved());
    auto again = dc::readConfigFile(dir / "c.bin");
    ASSERT_TRUE(again.ok());
    for (auto off : reserved)
        EXPECT_EQ(again->wordAt(off), 0xA5000000u | off) << off;
    EXPECT_EQ(again->fixed264(), 0xDEADBEEF);
    EXPECT_EQ(again->middleShareValue(), 77u);
    EXPECT_EQ(again->speedUnit(), 1u);
}

TEST(DeviceConfigImage, BadChecksumLoadsAndTheNextSaveCorrectsIt) {
    TempDir dir;
    auto bytes = validFileBytes();
    bytes[2] ^= 0xFF;
    writeBytes(dir / "c.bin", bytes);
    auto loaded = dc::readConfigFile(dir / "c.bin");
    ASSERT_TRUE(loaded.ok());
    EXPECT_FALSE(loaded->checksumValid());
    ASSERT_TRUE(dc::writeConfigFile(dir / "c.bin", *loaded).saved());
    EXPECT_TRUE(dc::readConfigFile(dir / "c.bin")->checksumValid());
}

TEST(DeviceConfigImage, WrongSizeOrMagicIsRefusedAndTheImageKept) {
    dc::DeviceConfig c;
    c.setFrontQuality(3);
    auto good = validFileBytes(0);
    for (std::size_t size : {0u, 1u, 623u, 625u, 4096u}) {
        std::vector<std::uint8_t> b(size, 0);
        if (size >= 2)
            b[0] = 0x08, b[1] = 0x15;
        auto r = c.assign(b);
        EXPECT_FALSE(r.ok()) << size;
        EXPECT_NE(r.error().find("624"), std::string::npos) << r.error();
    }
    auto foreign = good;
    foreign[0] = 0x09;
    EXPECT_FALSE(c.assign(foreign).ok());
    EXPECT_EQ(c.frontQuality(), 3u);

    TempDir dir;
    for (std::size_t size : {623u, 625u}) {
        std::vector<std::uint8_t> b = good;
        b.resize(size, 0);
        writeBytes(dir / "c.bin", b);
        auto r = dc::readConfigFile(dir / "c.bin");
        ASSERT_FALSE(r.ok());
        EXPECT_NE(r.error().find("624"), std::string::npos) << r.error();
    }
    EXPECT_FALSE(dc::readConfigFile(dir / "missing.bin").ok());
    EXPECT_FALSE(dc::readConfigFile(dir.str()).ok());  // a folder
}

// ---- on the card ----

TEST(DeviceConfigLocate, OnlyAFileOfExactly624BytesCounts) {
    TempDir dir;
    auto a = dir.mkdir("a").string(), b = dir.mkdir("b").string(), c = dir.mkdir("c").string();
    auto bytes = validFileBytes();
    auto shortFile = bytes;
    shortFile.resize(623);
    auto longFile = bytes;
    longFile.push_back(0);
    writeBytes(a + "/config_K7x7.bin", shortFile);
    writeBytes(b + "/config_K7x7.bin", longFile);
    std::vector<Volume> vols{card(a, "ORVIK"), card(b, "ORVIK")};
    EXPECT_FALSE(dc::findConfigOnCard(vols));

    writeBytes(c + "/config_K7x7.bin", bytes);
    vols.push_back(card(c, "ORVIK"));
    auto found = dc::findConfigOnCard(vols);
    ASSERT_TRUE(found);
    EXPECT_EQ(found->path, c + "/config_K7x7.bin");

    dc::ConfigSession s;
    EXPECT_TRUE(s.locateOnCard(true, vols));
    EXPECT_EQ(s.rememberedPath(), c + "/config_K7x7.bin");
    EXPECT_EQ(s.image().frontQuality(), 2u);
}

TEST(DeviceConfigLocate, WrongMagicIsFoundNotLoadedAndForgotten) {
    TempDir dir;
    auto a = dir.mkdir("a").string();
    std::vector<std::uint8_t> foreign(624, 0x41);
    writeBytes(a + "/config_K7x7.bin", foreign);
    dc::ConfigSession s;
    s.image().setRearQuality(0);
    EXPECT_FALSE(s.locateOnCard(true, {card(a, "ORVIK")}));
    EXPECT_TRUE(s.rememberedPath().empty());
    EXPECT_EQ(s.image().rearQuality(), 0u);  // image as before the read
}

TEST(DeviceConfigLocate, RelabelsTheCardHoldingTheFileCaseSensitively) {
    TempDir dir;
    auto a = dir.mkdir("a").string(), b = dir.mkdir("b").string();
    writeBytes(b + "/config_K7x7.bin", validFileBytes());
    orvik::test::writeFile(b + "/.volume-label", "orvik\n");
    std::vector<Volume> vols{card(a, "OTHER"), card(b, "orvik")};
    dc::ConfigSession s;
    std::vector<std::string> lines;
    EXPECT_TRUE(s.locateOnCard(true, vols, [&](const std::string& l) { lines.push_back(l); }));
    EXPECT_TRUE(lines.empty());
    EXPECT_EQ(orvik::test::readFile(b + "/.volume-label"), "ORVIK\n");
    EXPECT_FALSE(std::filesystem::exists(a + "/.volume-label"));  // only the card with the file
}

TEST(DeviceConfigLocate, SearchWithoutReadingFixesTheLabelButForgetsThePath) {
    TempDir dir;
    auto a = dir.mkdir("a").string();
    writeBytes(a + "/config_K7x7.bin", validFileBytes(3));
    dc::ConfigSession s;
    s.setRememberedPath("/somewhere/else");
    EXPECT_FALSE(s.locateOnCard(false, {card(a, "NONAME")}));
    EXPECT_TRUE(s.rememberedPath().empty());
    EXPECT_EQ(s.image().frontQuality(), 1u);  // not loaded
    EXPECT_EQ(orvik::test::readFile(a + "/.volume-label"), "ORVIK\n");
}

TEST(DeviceConfigLocate, LabelFailureIsOneLineAndTheFileIsUsedAllTheSame) {
    TempDir dir;
    auto a = dir.mkdir("a").string();
    writeBytes(a + "/config_K7x7.bin", validFileBytes(3));
    // A folder where the label file should go makes relabelling fail.
    std::filesystem::create_directory(a + "/.volume-label");
    Volume v = card(a, "OLD");
    dc::ConfigSession s;
    std::vector<std::string> lines;
    EXPECT_TRUE(s.locateOnCard(true, {v}, [&](const std::string& l) { lines.push_back(l); }));
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_EQ(lines[0].rfind("Could not label volume!: ", 0), 0u) << lines[0];
    EXPECT_EQ(lines[0].back(), '\n');
    EXPECT_EQ(s.image().frontQuality(), 3u);
}

TEST(DeviceConfigSaveTarget, FollowsTheCardRules) {
    TempDir dir;
    auto a = dir.mkdir("a").string(), b = dir.mkdir("b").string();
    int asked = 0;
    auto ask = [&]() -> std::optional<std::string> {
        ++asked;
        return dir / "chosen.bin";
    };
    // One card: its root, whatever its label.
    EXPECT_EQ(dc::chooseSaveTarget({card(a, "X")}, ask), a + "/config_K7x7.bin");
    // Two cards, the second labelled: the second, without asking.
    EXPECT_EQ(dc::chooseSaveTarget({card(a, "X"), card(b, "ORVIK")}, ask), b + "/config_K7x7.bin");
    EXPECT_EQ(asked, 0);
    // Two cards without the label, and no card: the user is asked.
    EXPECT_EQ(dc::chooseSaveTarget({card(a, "X"), card(b, "orvik")}, ask), dir / "chosen.bin");
    EXPECT_EQ(dc::chooseSaveTarget({}, ask), dir / "chosen.bin");
    EXPECT_EQ(asked, 2);
}

TEST(DeviceConfigSaveTarget, TwoCardsSecondLabelledWritesThereWithoutDialog) {
    TempDir dir;
    auto a = dir.mkdir("a").string(), b = dir.mkdir("b").string();
    dc::ConfigSession s;
    s.image().setSpeedUnit(1);
    auto out = s.write(
        []() -> std::optional<std::string> {
            ADD_FAILURE() << "no dialog expected";
            return std::nullopt;
        },
        {card(a, "NO NAME"), card(b, "ORVIK")});
    ASSERT_TRUE(out.saved()) << out.error;
    EXPECT_EQ(out.path, b + "/config_K7x7.bin");
    EXPECT_FALSE(std::filesystem::exists(a + "/config_K7x7.bin"));
    EXPECT_EQ(dc::readConfigFile(out.path)->speedUnit(), 1u);
    EXPECT_TRUE(s.rememberedPath().empty());  // a choice does not become the remembered path
}

TEST(DeviceConfigSaveTarget, CancelledDialogWritesNothing) {
    TempDir dir;
    auto a = dir.mkdir("a").string(), b = dir.mkdir("b").string();
    dc::ConfigSession s;
    auto out = s.write([] { return std::optional<std::string>(); }, {card(a), card(b)});
    EXPECT_EQ(out.status, dc::SaveStatus::Cancelled);
    EXPECT_TRUE(orvik::test::entriesOf(a).empty());
    EXPECT_TRUE(orvik::test::entriesOf(b).empty());
}

TEST(DeviceConfigSaveTarget, InitializeThenSaveWithOneCardWritesItsRoot) {
    TempDir dir;
    auto a = dir.mkdir("a").string();
    writeBytes(a + "/config_K7x7.bin", validFileBytes(3));
    dc::ConfigSession s;
    ASSERT_TRUE(s.locateOnCard(true, {card(a, "ORVIK")}));
    s.locateOnCard(false, {card(a, "ORVIK")});  // Initialize
    s.resetToDefaults();
    EXPECT_TRUE(s.rememberedPath().empty());
    auto out = s.write({}, {card(a, "ORVIK")});
    ASSERT_TRUE(out.saved());
    EXPECT_EQ(dc::readConfigFile(a + "/config_K7x7.bin")->frontQuality(), 1u);
}

// ---- failed writes keep the old file ----

TEST(DeviceConfigWriteFailure, MissingFolderIsAnErrorNotASuccess) {
    TempDir dir;
    auto out = dc::writeConfigFile(dir / "gone/config_K7x7.bin", dc::DeviceConfig());
    EXPECT_EQ(out.status, dc::SaveStatus::Failed);
    EXPECT_NE(out.error.find("cannot write"), std::string::npos);
    EXPECT_NE(out.error.find("No such file"), std::string::npos) << out.error;
}

TEST(DeviceConfigWriteFailure, InjectedShortWriteLeavesOldFileByteIdentical) {
    TempDir dir;
    auto old = validFileBytes(3);
    writeBytes(dir / "config_K7x7.bin", old);
    for (int mode = 0; mode < 3; ++mode) {
        int calls = 0;
        orvik::platform::setWriteFunctionForTesting(
            [&](int fd, const void* p, std::size_t n) -> ssize_t {
                ++calls;
                if (mode == 0 && calls == 1)
                    return ::write(fd, p, n / 2);  // half, then the medium is full
                if (mode == 1)
                    return 0;  // no progress at all
                errno = mode == 2 ? EIO : ENOSPC;
                return -1;
            });
        auto out = dc::writeConfigFile(dir / "config_K7x7.bin", dc::DeviceConfig());
        orvik::platform::setWriteFunctionForTesting({});
        EXPECT_EQ(out.status, dc::SaveStatus::Failed) << mode;
        EXPECT_FALSE(out.error.empty());
        EXPECT_EQ(readBytes(dir / "config_K7x7.bin"), old) << mode;
        EXPECT_EQ(orvik::test::entriesOf(dir.str()), std::vector<std::string>{"config_K7x7.bin"});
    }
}

TEST(DeviceConfigWriteFailure, FullMediumLeavesOldFileByteIdentical) {
    orvik::test::TmpfsMount fs(8192);
    if (!fs.mounted())
        GTEST_SKIP() << "mounting a tmpfs needs root";
    auto old = validFileBytes(3);
    writeBytes(fs / "config_K7x7.bin", old);
    writeBytes(fs / "filler", std::vector<std::uint8_t>(64 * 1024, 1));  // fills what is left
    auto out = dc::writeConfigFile(fs / "config_K7x7.bin", dc::DeviceConfig());
    EXPECT_EQ(out.status, dc::SaveStatus::Failed);
    EXPECT_EQ(out.errorNumber, ENOSPC) << out.error;
    EXPECT_EQ(readBytes(fs / "config_K7x7.bin"), old);
}

TEST(DeviceConfigWriteFailure, ReadOnlyMediumIsReportedAsWriteProtected) {
    orvik::test::TmpfsMount fs(1 << 20);
    if (!fs.mounted())
        GTEST_SKIP() << "mounting a tmpfs needs root";
    auto old = validFileBytes(3);
    writeBytes(fs / "config_K7x7.bin", old);
    ASSERT_TRUE(fs.remountReadOnly());
    dc::ConfigSession s;
    s.setRememberedPath(fs / "config_K7x7.bin");
    auto out = s.write({});
    EXPECT_EQ(out.status, dc::SaveStatus::WriteProtected);
    EXPECT_EQ(readBytes(fs / "config_K7x7.bin"), old);
}

// A card whose file system is a FAT32 image: locate relabels the image itself.
TEST(DeviceConfigLocate, CorrectsTheLabelOfARealFat32Card) {
    if (std::system("command -v mkfs.fat >/dev/null && command -v fsck.fat >/dev/null") != 0)
        GTEST_SKIP() << "dosfstools missing";
    TempDir dir;
    auto root = dir.mkdir("card").string();
    std::string image = dir / "card.img";
    ASSERT_EQ(std::system(("mkfs.fat -C -F 32 -n CAMERA " + image + " 40960 >/dev/null").c_str()),
              0);
    writeBytes(root + "/config_K7x7.bin", validFileBytes(3));

    struct ImageCard : orvik::platform::VolumeProvider {
        std::string root, image;
        std::vector<Volume> list() override {
            Volume v;
            v.mountPoint = root;
            v.device = image;
            v.label = orvik::platform::probeLabel(image).value();
            return {v};
        }
        orvik::Result<void> setLabel(const Volume& v, std::string_view label) override {
            return orvik::platform::writeFatLabel(v.device, label);
        }
    };
    auto provider = std::make_shared<ImageCard>();
    provider->root = root, provider->image = image;
    orvik::platform::setVolumeProvider(provider);
    dc::ConfigSession s;
    bool loaded = s.locateOnCard(true, [](const std::string& l) { ADD_FAILURE() << l; });
    orvik::platform::setVolumeProvider(nullptr);
    EXPECT_TRUE(loaded);
    EXPECT_EQ(orvik::platform::probeLabel(image).value(), "ORVIK");
    EXPECT_EQ(std::system(("fsck.fat -n " + image + " >/dev/null").c_str()), 0);
}
