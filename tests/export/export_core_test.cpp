// The export core's pieces: caption text and calendar arithmetic, the box rewriter that gives a
// clip its telemetry slots, the output file that never leaves a half-written result, EXIF that
// libexif reads back, and the partner rule.
#include <gtest/gtest.h>
#include <libexif/exif-data.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "export/caption.h"
#include "export/exif.h"
#include "export/export.h"
#include "export/fragment_muxer.h"
#include "export/media.h"
#include "export/output_file.h"
#include "platform/volumes.h"
#include "recordings/partner.h"
#include "support/test_support.h"

namespace orvik::exporting {
namespace {

namespace fs = std::filesystem;
using recordings::RecordingTimestamp;

// A scratch folder that can list what was left in it.
class Scratch : public orvik::test::TempDir {
  public:
    std::vector<std::string> names() const {
        std::vector<std::string> out;
        for (const auto& e : fs::directory_iterator(path()))
            out.push_back(e.path().filename().string());
        std::sort(out.begin(), out.end());
        return out;
    }
};

using orvik::test::readFile;

TEST(Caption, MomentsCrossMidnightMonthAndYearEnds) {
    const RecordingTimestamp start{2023, 12, 31, 23, 59, 58};
    EXPECT_EQ(timestampText(*momentOf(start, 0.9)), "2023-12-31 23:59:58");
    EXPECT_EQ(timestampText(*momentOf(start, 2.0)), "2024-01-01 00:00:00");
    EXPECT_EQ(timestampText(*momentOf({2024, 2, 28, 23, 59, 0}, 61)), "2024-02-29 00:00:01");
    EXPECT_EQ(timestampText(*momentOf({2023, 2, 28, 23, 59, 0}, 61)), "2023-03-01 00:00:01");
    EXPECT_EQ(timestampText(*momentOf({2024, 3, 1, 0, 0, 0}, -1)), "2024-02-29 23:59:59");
    EXPECT_FALSE(momentOf({2024, 13, 1, 0, 0, 0}, 0));  // a name without a valid date
    EXPECT_FALSE(momentOf(start, std::nan("")));
}

TEST(Caption, TimeSpeedWithItsUnitAndPositionInDecimalDegrees) {
    recordings::GpsFix fix;
    fix.speed = 37;
    fix.speedUnitCode = recordings::kSpeedUnitCodeMph;
    fix.latitude = recordings::NmeaAngle(3351.0);
    fix.latHemisphere = 'S';
    fix.longitude = recordings::NmeaAngle(15112.0);
    fix.lonHemisphere = 'W';
    const RecordingTimestamp start{2024, 3, 2, 12, 0, 0};
    EXPECT_EQ(captionText(start, 5.4, &fix), "2024-03-02 12:00:05  37 mph  -33.85000, -151.20000");
    // The position the receiver marked invalid, or none at all, is left out; the speed stays.
    EXPECT_EQ(captionText(start, 5.4, &fix, false), "2024-03-02 12:00:05  37 mph");
    // In the unit the viewer shows: 37 mph is 59.5 km/h.
    EXPECT_EQ(captionText(start, 5.4, &fix, false, recordings::SpeedUnit::KilometresPerHour),
              "2024-03-02 12:00:05  60 km/h");
    EXPECT_EQ(captionText(start, 5.4, &fix, false, recordings::SpeedUnit::MilesPerHour),
              "2024-03-02 12:00:05  37 mph");
    fix.speedUnitCode = 0;
    fix.latitude = recordings::NmeaAngle(0);
    fix.longitude = recordings::NmeaAngle(0);
    EXPECT_EQ(captionText(start, 0, &fix), "2024-03-02 12:00:00  37 km/h");
    EXPECT_EQ(captionText(start, 0, nullptr), "2024-03-02 12:00:00");
    EXPECT_EQ(captionText({}, 0, nullptr), "");
}

TEST(Caption, EntryForAMomentFollowsTheIndexRule) {
    recordings::TelemetryTrack track;
    EXPECT_FALSE(entryForMoment(track, 1, 10));
    for (int i = 0; i < 100; ++i)
        track.takeRecord(recordings::TelemetryRecord{});
    EXPECT_EQ(entryForMoment(track, 0, 10), 0u);
    EXPECT_EQ(entryForMoment(track, 5, 10), 49u);
    EXPECT_EQ(entryForMoment(track, 10, 10), 99u);
    EXPECT_EQ(entryForMoment(track, 12, 10), 99u);
}

// A box stream: ftyp, moov, two moof+mdat pairs and a trailing mfra.
std::vector<std::uint8_t> boxStream() {
    std::vector<std::uint8_t> s;
    const auto box = [&s](const char* type, std::size_t bodySize, std::uint8_t fill) {
        const std::size_t size = bodySize + 8;
        s.push_back(static_cast<std::uint8_t>(size >> 24));
        s.push_back(static_cast<std::uint8_t>(size >> 16));
        s.push_back(static_cast<std::uint8_t>(size >> 8));
        s.push_back(static_cast<std::uint8_t>(size));
        s.insert(s.end(), type, type + 4);
        s.insert(s.end(), bodySize, fill);
    };
    box("ftyp", 8, 1);
    box("moov", 20, 2);
    box("moof", 12, 3);
    box("mdat", 100, 4);
    box("moof", 12, 5);
    box("mdat", 0, 6);
    box("mfra", 16, 7);
    return s;
}

TEST(BoxRewriter, GrowsEveryMediaBoxByItsAreaAndDropsTheTrailingIndexWhateverTheChunks) {
    for (std::size_t chunk : {std::size_t{1}, std::size_t{3}, std::size_t{7}, std::size_t{4096}}) {
        SCOPED_TRACE(chunk);
        Scratch dir;
        auto out = OutputFile::create((dir.path() / "a.mp4").string(), false);
        ASSERT_TRUE(out);
        BoxRewriter rewriter(*out, [](std::size_t k) {
            return std::vector<std::uint8_t>(10, static_cast<std::uint8_t>(0xA0 + k));
        });
        const auto in = boxStream();
        for (std::size_t i = 0; i < in.size(); i += chunk)
            ASSERT_TRUE(rewriter.feed(in.data() + i, std::min(chunk, in.size() - i)));
        ASSERT_TRUE(rewriter.finish());
        EXPECT_EQ(rewriter.mediaBoxes(), 2u);
        ASSERT_TRUE(out->commit());
        const std::string bytes = readFile(dir.path() / "a.mp4");
        const std::size_t area = recordings::kTelemetryAreaSize;
        // ftyp 16 + moov 28 + moof 20 + mdat (108 + area) + moof 20 + mdat (8 + area).
        ASSERT_EQ(bytes.size(), 16 + 28 + 20 + 108 + area + 20 + 8 + area);
        const auto be32 = [&bytes](std::size_t at) {
            return (std::uint32_t(std::uint8_t(bytes[at])) << 24) |
                   (std::uint32_t(std::uint8_t(bytes[at + 1])) << 16) |
                   (std::uint32_t(std::uint8_t(bytes[at + 2])) << 8) | std::uint8_t(bytes[at + 3]);
        };
        EXPECT_EQ(be32(64), 108 + area);
        EXPECT_EQ(bytes.substr(68, 4), "mdat");
        // The area closes the media box: its first bytes, then zero padding to 2222.
        EXPECT_EQ(std::uint8_t(bytes[64 + 108]), 0xA0);
        EXPECT_EQ(std::uint8_t(bytes[64 + 108 + 10]), 0);
        EXPECT_EQ(be32(64 + 108 + area + 20), 8 + area);
        EXPECT_EQ(std::uint8_t(bytes[bytes.size() - area]), 0xA1);
    }
}

TEST(BoxRewriter, AStreamEndingInsideABoxIsAnError) {
    Scratch dir;
    auto out = OutputFile::create((dir.path() / "a.mp4").string(), false);
    ASSERT_TRUE(out);
    BoxRewriter rewriter(*out, [](std::size_t) { return std::vector<std::uint8_t>(); });
    const auto in = boxStream();
    ASSERT_TRUE(rewriter.feed(in.data(), 30));
    EXPECT_FALSE(rewriter.finish());
    const std::uint8_t tooSmall[8] = {0, 0, 0, 4, 'f', 'r', 'e', 'e'};
    BoxRewriter second(*out, [](std::size_t) { return std::vector<std::uint8_t>(); });
    EXPECT_FALSE(second.feed(tooSmall, sizeof tooSmall));
}

TEST(OutputFile, AppearsOnlyWhenCommittedAndReplacesOnlyWithForce) {
    Scratch dir;
    const std::string target = (dir.path() / "clip.mp4").string();
    {
        auto out = OutputFile::create(target, false);
        ASSERT_TRUE(out);
        const std::uint8_t data[3] = {1, 2, 3};
        ASSERT_TRUE(out->write(data));
        EXPECT_FALSE(fs::exists(target));
        EXPECT_EQ(dir.names().size(), 1u);  // the temporary file
    }
    EXPECT_TRUE(dir.names().empty()) << "an abandoned output leaves nothing behind";

    std::ofstream(target) << "evidence";
    auto refused = OutputFile::create(target, false);
    ASSERT_FALSE(refused);
    EXPECT_NE(refused.error().find("--force"), std::string::npos);
    EXPECT_EQ(readFile(target), "evidence");

    auto forced = OutputFile::create(target, true);
    ASSERT_TRUE(forced);
    const std::uint8_t data[2] = {'o', 'k'};
    ASSERT_TRUE(forced->write(data));
    ASSERT_TRUE(forced->commit());
    EXPECT_EQ(readFile(target), "ok");
    EXPECT_EQ(dir.names(), std::vector<std::string>{"clip.mp4"});

    // A file that appears while the export runs is not replaced without --force.
    const std::string late = (dir.path() / "late.mp4").string();
    auto racing = OutputFile::create(late, false);
    ASSERT_TRUE(racing);
    std::ofstream(late) << "first";
    auto committed = racing->commit();
    EXPECT_FALSE(committed);
    EXPECT_EQ(readFile(late), "first");

    EXPECT_FALSE(OutputFile::create((dir.path() / "missing" / "x.mp4").string(), false));
}

TEST(OutputFile, WaitsForTheDiskOnlyWhereAPowerCutOrAPulledCardCouldLoseSomething) {
    Scratch dir;
    const std::string target = (dir.path() / "clip.mp4").string();
    auto fresh = OutputFile::create(target, false);
    ASSERT_TRUE(fresh);
    EXPECT_EQ(fresh->flushesOnCommit(), platform::onRemovableMedia(dir.path().string()));
    // Larger than the write-behind step, so the disk writing started on the way is exercised.
    const std::vector<std::uint8_t> block(9u << 20, 0x5A);
    ASSERT_TRUE(fresh->write(block));
    ASSERT_TRUE(fresh->commit());
    EXPECT_EQ(fs::file_size(target), block.size());

    auto replacing = OutputFile::create(target, true);
    ASSERT_TRUE(replacing);
    EXPECT_TRUE(replacing->flushesOnCommit()) << "the old file must survive a power cut";
}

std::string exifString(ExifData* d, ExifIfd ifd, ExifTag tag) {
    ExifEntry* e = exif_content_get_entry(d->ifd[ifd], tag);
    if (!e)
        return "";
    char buf[256] = {};
    exif_entry_get_value(e, buf, sizeof buf);
    return buf;
}

TEST(Exif, PositionTimeAndMomentReadBack) {
    ExifTags tags;
    tags.position = recordings::GeoPosition{recordings::DecimalDegrees(-33.85),
                                            recordings::DecimalDegrees(151.2125)};
    tags.utc = recordings::GpsTime{2024, 3, 0, 2, 12, 0, 5, 500};
    tags.dateTimeOriginal = "2024:03:02 12:00:05";
    tags.dateTimeIsUtc = true;
    auto exif = buildExif(tags);
    ASSERT_TRUE(exif);
    ASSERT_GT(exif->size(), 6u);
    EXPECT_EQ(std::memcmp(exif->data(), "Exif\0\0", 6), 0);

    ExifData* d = exif_data_new_from_data(exif->data(), static_cast<unsigned>(exif->size()));
    ASSERT_NE(d, nullptr);
    EXPECT_EQ(exifString(d, EXIF_IFD_GPS, static_cast<ExifTag>(EXIF_TAG_GPS_LATITUDE_REF)), "S");
    EXPECT_EQ(exifString(d, EXIF_IFD_GPS, static_cast<ExifTag>(EXIF_TAG_GPS_LONGITUDE_REF)), "E");
    ExifEntry* lat =
        exif_content_get_entry(d->ifd[EXIF_IFD_GPS], static_cast<ExifTag>(EXIF_TAG_GPS_LATITUDE));
    ASSERT_NE(lat, nullptr);
    const ExifByteOrder order = exif_data_get_byte_order(d);
    double value = 0, scale = 1;
    for (int i = 0; i < 3; ++i, scale *= 60) {
        const ExifRational r = exif_get_rational(lat->data + 8 * i, order);
        value += double(r.numerator) / r.denominator / scale;
    }
    EXPECT_NEAR(value, 33.85, 1e-6);
    EXPECT_EQ(exifString(d, EXIF_IFD_GPS, static_cast<ExifTag>(EXIF_TAG_GPS_DATE_STAMP)),
              "2024:03:02");
    EXPECT_EQ(exifString(d, EXIF_IFD_EXIF, EXIF_TAG_DATE_TIME_ORIGINAL), "2024:03:02 12:00:05");
    exif_data_unref(d);

    // Inserted after the JFIF segment of a JPEG.
    const std::vector<std::uint8_t> jpeg = {0xFF, 0xD8, 0xFF, 0xE0, 0, 4, 'J', 'F', 0xFF, 0xD9};
    auto tagged = insertExif(jpeg, *exif);
    ASSERT_TRUE(tagged);
    EXPECT_EQ((*tagged)[8], 0xFF);
    EXPECT_EQ((*tagged)[9], 0xE1);
    EXPECT_EQ(((*tagged)[10] << 8) | (*tagged)[11], static_cast<int>(exif->size() + 2));
    EXPECT_EQ(tagged->size(), jpeg.size() + exif->size() + 4);
    EXPECT_FALSE(insertExif({1, 2, 3}, *exif));
}

TEST(Sources, ThePartnerIsFoundAsTheViewerFindsIt) {
    Scratch dir;
    const std::string front = (dir.path() / "event_20240302_120000_F.mp4").string();
    const std::string rear = (dir.path() / "event_20240302_120000_R.mp4").string();
    EXPECT_EQ(recordings::channelOfRecording(front).partnerPath, rear);
    EXPECT_EQ(recordings::channelOfRecording(rear).partnerPath, front);
    std::ofstream(front) << "x";
    // Without the partner only the given channel can be exported.
    EXPECT_EQ(resolveSources(front, Layout::Given)->main, front);
    EXPECT_EQ(resolveSources(front, Layout::Front)->main, front);
    auto missing = resolveSources(front, Layout::SideBySide);
    ASSERT_FALSE(missing);
    EXPECT_NE(missing.error().find(rear), std::string::npos);
    EXPECT_FALSE(resolveSources(front, Layout::Rear));
    std::ofstream(rear) << "x";
    const auto both = resolveSources(rear, Layout::PictureInPicture);
    ASSERT_TRUE(both);
    EXPECT_EQ(both->main, front);
    EXPECT_EQ(both->inset, rear);
    EXPECT_EQ(resolveSources(rear, Layout::Front)->main, front);
    EXPECT_EQ(parseLayout("side-by-side"), Layout::SideBySide);
    EXPECT_FALSE(parseLayout("mosaic"));
}

}  // namespace
}  // namespace orvik::exporting
