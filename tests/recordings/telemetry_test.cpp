// The telemetry walk on crafted recordings: valid fragments, broken slots and every way a box
// can lie about its size. Whatever the bytes, the reader must end, stay inside the file and keep
// the records read so far.
#include <gtest/gtest.h>

#include <array>
#include <cstring>
#include <set>
#include <vector>

#include "recordings/telemetry.h"
#include "support/test_support.h"
#include "synthetic_recording.h"

namespace orvik::recordings {
namespace {

using testing::RecordingImage;

struct Read {
    HResult hr;
    TelemetryTrack track;
    ReadReport report;
};

Read readImage(RecordingImage& image) {
    Read r;
    MemoryByteSource source(image.bytes());
    r.hr = r.track.readRecording(source, &r.report);
    return r;
}

void expectSameLengths(const TelemetryTrack& t) {
    EXPECT_EQ(t.accelSamples().size(), t.fixes().size());
    EXPECT_EQ(t.rawAccel().size(), t.fixes().size());
    EXPECT_EQ(t.timestamps().size(), t.fixes().size());
}

TEST(TelemetryRecord, EncodesAndParsesEveryField) {
    TelemetryRecord r = RecordingImage::record(1234);
    r.accelX = -384;
    r.speedUnitCode = kSpeedUnitCodeMph;
    r.speed = 37;
    r.hdop = 1.25;
    r.satellitesUsed = 11;
    const auto bytes = encodeTelemetryRecord(r);
    EXPECT_EQ(std::memcmp(bytes.data(), "K737", 4), 0);
    EXPECT_EQ(std::memcmp(bytes.data() + 196, "END\0", 4), 0);
    EXPECT_EQ(std::to_integer<int>(bytes[4]), 1234 & 0xFF);  // little-endian
    EXPECT_EQ(std::to_integer<int>(bytes[5]), 1234 >> 8);
    const auto back = parseTelemetryRecord(bytes);
    ASSERT_TRUE(back);
    EXPECT_EQ(back->timestamp, 1234u);
    EXPECT_EQ(back->accelX, -384);
    EXPECT_EQ(back->speed, 37);
    EXPECT_EQ(back->speedUnitCode, kSpeedUnitCodeMph);
    EXPECT_EQ(back->latitude, NmeaAngle(3733.4217));
    EXPECT_EQ(back->longitude, NmeaAngle(12651.8696));
    EXPECT_EQ(back->hdop, 1.25);
    EXPECT_EQ(back->satellitesUsed, 11);
    EXPECT_EQ(back->nmeaText, r.nmeaText);
}

TEST(TelemetryRecord, MagicAndEndMarkMustMatch) {
    auto bytes = encodeTelemetryRecord(RecordingImage::record(1));
    bytes[199] = std::byte{'!'};  // "END" followed by a non-zero byte
    EXPECT_FALSE(parseTelemetryRecord(bytes));
    bytes = encodeTelemetryRecord(RecordingImage::record(1));
    bytes[3] = std::byte{'8'};
    EXPECT_FALSE(parseTelemetryRecord(bytes));
}

TEST(TelemetryWalk, FullFragmentsGiveElevenEntriesEach) {
    RecordingImage image;
    image.ftyp().moov().fullFragment(100).fullFragment(200);
    Read r = readImage(image);
    EXPECT_EQ(r.hr, S_OK);
    expectSameLengths(r.track);
    ASSERT_EQ(r.track.fixes().size(), 22u);
    EXPECT_EQ(r.track.timestamps()[0], 100u);
    EXPECT_EQ(r.track.timestamps()[10], 110u);
    EXPECT_EQ(r.track.timestamps()[11], 200u);
    EXPECT_EQ(r.report.fragments, 2u);
    EXPECT_EQ(r.report.end, WalkEnd::EndOfFile);
    // RMC + GGA in every record.
    EXPECT_EQ(r.track.nmeaSnapshots().size(), 44u);
}

TEST(TelemetryWalk, RecordFieldsBecomeTrackEntries) {
    TelemetryRecord a = RecordingImage::record(5);
    a.accelX = 256;
    a.accelY = -384;
    a.accelZ = 0;
    a.accelAux = -9;
    a.speedUnitCode = kSpeedUnitCodeMph;
    a.speed = 37;
    TelemetryRecord b = RecordingImage::record(6, "$GPGGA,1,3733.1,S,12658.4,W,1,08,0.9*44\n");
    b.speedUnitCode = 0;
    RecordingImage image;
    image.ftyp().moov().fragment({a, b});
    Read r = readImage(image);
    ASSERT_EQ(r.track.fixes().size(), 2u);
    EXPECT_EQ(r.track.accelSamples()[0], (AccelSample{1.0f, -1.5f, 0.0f}));
    EXPECT_EQ(r.track.rawAccel()[0], (RawAccel{256, -384, 0, -9}));
    const GpsFix& f = r.track.fixes()[0];
    EXPECT_EQ(f.speed, 37.0);
    EXPECT_EQ(speedUnitOf(f.speedUnitCode), SpeedUnit::MilesPerHour);
    EXPECT_EQ(speedUnitOf(r.track.fixes()[1].speedUnitCode), SpeedUnit::KilometresPerHour);
    EXPECT_EQ(speedUnitOf(kSpeedUnitCodeKmh), SpeedUnit::KilometresPerHour);
    EXPECT_EQ(f.latitude, NmeaAngle(3733.4217));  // from the record, not the sentence
    EXPECT_EQ(f.hdop, 0.9);
    EXPECT_EQ(f.satellitesUsed, 8);
    EXPECT_EQ(f.latHemisphere, 'N');
    EXPECT_FALSE(f.fixValid);  // per-record fixes carry only the record's fields
    EXPECT_EQ(f.time, GpsTime{});
    // Hemispheres come from the running state after the record's own text.
    EXPECT_EQ(r.track.fixes()[1].latHemisphere, 'S');
    EXPECT_EQ(r.track.fixes()[1].lonHemisphere, 'W');
    EXPECT_EQ(r.track.fixes()[1].latitude, NmeaAngle(3733.4217));
}

TEST(TelemetryWalk, HemispheresCarryOverRecordsWithoutThem) {
    RecordingImage image;
    image.ftyp()
        .moov()
        .fragment({RecordingImage::record(1, "$GNGGA,1,3733.1,S,12658.4,W*68\n")})
        .fragment({RecordingImage::record(2, "$GPRMC,081530.500,A*1E\n")});
    Read r = readImage(image);
    ASSERT_EQ(r.track.fixes().size(), 2u);
    EXPECT_EQ(r.track.fixes()[1].latHemisphere, 'S');
    EXPECT_EQ(r.track.fixes()[1].lonHemisphere, 'W');
}

TEST(TelemetryWalk, BadSlotsAreSkippedTheOthersRead) {
    std::vector<std::optional<TelemetryRecord>> slots(11);
    slots[0] = RecordingImage::record(1);
    slots[5] = RecordingImage::record(6);
    slots[10] = RecordingImage::record(11);
    RecordingImage image;
    image.ftyp().moov().fragment(slots);
    // Break slot 5's end mark: "END" + non-zero.
    image.bytes()[image.size() - 5 * kTelemetrySlotSize - 1] = std::byte{'X'};
    Read r = readImage(image);
    ASSERT_EQ(r.track.timestamps(), (std::vector<std::uint32_t>{1, 11}));
    EXPECT_EQ(r.report.skippedSlots, 9u);
}

TEST(TelemetryWalk, HeaderChecksFailTheRead) {
    const auto failsWith = [](RecordingImage image, const char* why) {
        Read r = readImage(image);
        EXPECT_EQ(r.hr, E_FAIL) << why;
        EXPECT_NE(r.report.error.find(why), std::string::npos) << r.report.error;
        EXPECT_TRUE(r.track.fixes().empty());
    };
    failsWith(RecordingImage().ftyp("isom").moov().fullFragment(1), "brand");
    failsWith(RecordingImage().ftyp("mp42").moov().fullFragment(1), "brand");
    failsWith(RecordingImage().box("free", 20).moov().fullFragment(1), "ftyp");
    failsWith(RecordingImage().raw("\0\0\0\x14"
                                   "ftyp"
                                   "is"),
              "short");
    failsWith(RecordingImage(), "short");
    failsWith(RecordingImage().ftyp().raw("\0\0"), "no box after");
}

TEST(TelemetryWalk, TheWalkEndsAtTheFirstBoxThatIsNotAFragment) {
    RecordingImage image;
    image.ftyp().moov().fullFragment(1).box("mfra", 16).fullFragment(50);
    Read r = readImage(image);
    EXPECT_EQ(r.hr, S_OK);
    EXPECT_EQ(r.track.fixes().size(), 11u);
    EXPECT_EQ(r.report.end, WalkEnd::NotFragment);
}

TEST(TelemetryWalk, NoFragmentsIsARecordingWithoutTelemetry) {
    RecordingImage image;
    image.ftyp().moov();
    Read r = readImage(image);
    EXPECT_EQ(r.hr, S_OK);
    EXPECT_TRUE(r.track.fixes().empty());
}

// Box sizes that would make the walk stand still or step outside the file.
TEST(TelemetryWalk, LyingBoxSizesEndTheWalkWithTheRecordsSoFar) {
    struct Case {
        const char* what;
        std::uint32_t moofSize;
        std::uint32_t mediaSize;
        WalkEnd end;
    };
    const Case cases[] = {
        {"moof of size 0", 0, 0, WalkEnd::BoxTooSmall},
        {"moof of size 1 (64-bit size)", 1, 0, WalkEnd::BoxTooSmall},
        {"moof of size 7", 7, 0, WalkEnd::BoxTooSmall},
        {"media box of size 0", 24, 0, WalkEnd::BoxTooSmall},
        {"media box of size 4", 24, 4, WalkEnd::BoxTooSmall},
        {"media box past the end", 24, 0x7FFFFFFF, WalkEnd::BoxPastEnd},
        {"media box of 4 GB", 24, 0xFFFFFFFF, WalkEnd::BoxPastEnd},
        {"moof past the end", 0xFFFFFFF0, 16, WalkEnd::BoxPastEnd},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        RecordingImage image;
        image.ftyp().moov().fullFragment(1);
        const std::size_t brokenAt = image.size();
        image.box("moof", c.moofSize, 16).box("mdat", c.mediaSize, 3000).fullFragment(100);
        // Put the broken sizes in place (box() wrote them, but mind moof's real length).
        if (c.moofSize >= 8 && c.moofSize < 0x1000) {
            // The media box header sits right after the moof's stated size.
            image.truncate(brokenAt);
            image.box("moof", c.moofSize).box("mdat", c.mediaSize, 3000).fullFragment(100);
        }
        Read r = readImage(image);
        EXPECT_EQ(r.hr, S_OK);
        EXPECT_EQ(r.track.fixes().size(), 11u);
        EXPECT_EQ(r.report.end, c.end);
        EXPECT_EQ(r.report.endOffset, brokenAt);
    }
}

TEST(TelemetryWalk, MediaBoxesSmallerThanTheAreaCarryNoSlots) {
    RecordingImage image;
    image.ftyp().moov().fullFragment(1).box("moof", 24).box("mdat", 2221).fullFragment(30);
    Read r = readImage(image);
    EXPECT_EQ(r.track.fixes().size(), 22u);
    EXPECT_EQ(r.report.fragments, 3u);
    EXPECT_EQ(r.report.fragmentsWithoutArea, 1u);
}

TEST(TelemetryWalk, TruncatedFilesKeepTheRecordsBeforeTheCut) {
    RecordingImage whole;
    whole.ftyp().moov().fullFragment(1).fullFragment(20);
    const std::size_t secondFragment = 20 + 64 + 24 + 8 + 100 + kTelemetryAreaSize;
    // Cut inside the second moof's header, inside its media data, and one byte short.
    for (const std::size_t cut : {secondFragment + 5, secondFragment + 24 + 50, whole.size() - 1}) {
        SCOPED_TRACE(cut);
        RecordingImage image = whole;
        image.truncate(cut);
        Read r = readImage(image);
        EXPECT_EQ(r.hr, S_OK);
        EXPECT_EQ(r.track.fixes().size(), 11u);
    }
}

TEST(TelemetryWalk, SmallHeaderBoxesDoNotLoop) {
    // ftyp claiming size 0 and a second box of size 0 point the walk back at itself.
    RecordingImage image;
    image.ftyp().moov().fullFragment(1);
    image.bytes()[3] = std::byte{0};
    Read r = readImage(image);
    EXPECT_EQ(r.hr, S_OK);
    EXPECT_TRUE(r.track.fixes().empty());
    EXPECT_EQ(r.report.end, WalkEnd::BoxTooSmall);

    RecordingImage zeroMoov;
    zeroMoov.ftyp().box("moov", 0, 56).fullFragment(1);
    r = readImage(zeroMoov);
    EXPECT_EQ(r.hr, S_OK);
    EXPECT_EQ(r.report.end, WalkEnd::BoxTooSmall);
}

// Counts what the reader touches: box headers and telemetry areas, never the media data.
class CountingSource final : public ByteSource {
  public:
    explicit CountingSource(std::uint64_t size) : size_(size) {}
    std::uint64_t size() const override { return size_; }
    std::size_t readAt(std::uint64_t offset, std::span<std::byte> out) override {
        bytesRead += out.size();
        ++reads;
        if (offset >= size_)
            return 0;
        const std::size_t n = std::min<std::uint64_t>(out.size(), size_ - offset);
        // A file of fragments: 20-byte ftyp, 64-byte moov, then 24-byte moof + 1 MB media boxes.
        for (std::size_t i = 0; i < n; ++i)
            out[i] = byteAt(offset + i);
        return n;
    }
    std::size_t bytesRead = 0;
    std::size_t reads = 0;

  private:
    static constexpr std::uint64_t kFragment = 24 + (1u << 20);
    std::byte byteAt(std::uint64_t o) const {
        static const RecordingImage head = [] {
            RecordingImage h;
            h.ftyp().moov();
            return h;
        }();
        if (o < 84)
            return const_cast<RecordingImage&>(head).bytes()[o];
        const std::uint64_t f = (o - 84) % kFragment;
        const auto be = [](std::uint32_t v, std::uint64_t i) {
            return std::byte(v >> (24 - 8 * i));
        };
        if (f < 4)
            return be(24, f);
        if (f < 8)
            return std::byte("moof"[f - 4]);
        if (f >= 24 && f < 28)
            return be(1u << 20, f - 24);
        if (f >= 28 && f < 32)
            return std::byte("mdat"[f - 28]);
        return std::byte{0};
    }
    std::uint64_t size_;
};

TEST(TelemetryWalk, ReadsOnlyHeadersAndTelemetryAreas) {
    constexpr std::uint64_t kFragments = 1000;
    CountingSource source(84 + kFragments * (24 + (1u << 20)));
    TelemetryTrack track;
    ReadReport report;
    EXPECT_EQ(track.readRecording(source, &report), S_OK);
    EXPECT_EQ(report.fragments, kFragments);
    EXPECT_LE(source.bytesRead, 16 + kFragments * (16 + kTelemetryAreaSize) + 64);
}

// Found by fuzzing the media-header reader: an empty read (a zero-size box) came with a null
// buffer and reached memcpy.
TEST(MemoryByteSource, EmptyAndOutOfRangeReadsCopyNothing) {
    const std::vector<std::byte> bytes(8, std::byte{7});
    MemoryByteSource source(bytes);
    std::vector<std::byte> none;
    EXPECT_EQ(source.readAt(0, std::span<std::byte>(none)), 0u);
    std::array<std::byte, 4> four{};
    EXPECT_EQ(source.readAt(8, four), 0u);
    EXPECT_EQ(source.readAt(6, four), 2u);
    EXPECT_EQ(four[0], std::byte{7});
}

TEST(TelemetryTrack, ResetEmptiesEverything) {
    RecordingImage image;
    image.ftyp().moov().fragment(
        {RecordingImage::record(1, "$GNGSA,A,3,03,07*2A\n$GNGNS,1,2,N,3,E,AA,09,0.7*48\n")});
    MemoryByteSource source(image.bytes());
    TelemetryTrack track;
    ASSERT_EQ(track.readRecording(source), S_OK);
    ASSERT_EQ(track.fixes().size(), 1u);
    EXPECT_EQ(track.runningFix().gnsSeen, 1);
    // Reading again without a reset appends.
    ASSERT_EQ(track.readRecording(source), S_OK);
    EXPECT_EQ(track.fixes().size(), 2u);
    track.reset();
    EXPECT_TRUE(track.fixes().empty());
    EXPECT_TRUE(track.accelSamples().empty());
    EXPECT_TRUE(track.rawAccel().empty());
    EXPECT_TRUE(track.timestamps().empty());
    EXPECT_TRUE(track.nmeaSnapshots().empty());
    EXPECT_EQ(track.runningFix(), GpsFix{});
}

TEST(TelemetryTrack, FilesThatCannotBeReadFail) {
    orvik::test::TempDir dir;
    TelemetryTrack track;
    ReadReport report;
    EXPECT_EQ(track.readRecording((dir.path() / "missing.mp4").string(), &report), E_FAIL);
    EXPECT_NE(report.error.find("No such file"), std::string::npos);
    EXPECT_EQ(track.readRecording(dir.str(), &report), E_FAIL);  // a folder
    const auto text = dir.touch("notes.mp4", "just some text, not a recording");
    EXPECT_EQ(track.readRecording(text.string(), &report), E_FAIL);
    EXPECT_NE(report.error.find("not a recording"), std::string::npos);

    RecordingImage image;
    image.ftyp().moov().fullFragment(7);
    ASSERT_TRUE(image.writeTo((dir.path() / "ok.mp4").string()));
    EXPECT_EQ(track.readRecording((dir.path() / "ok.mp4").string(), &report), S_OK);
    EXPECT_EQ(track.fixes().size(), 11u);
}

TEST(IndexRule, SpansTheListFromFirstToLast) {
    EXPECT_EQ(entryIndex(100, 0, 1000), 0u);
    EXPECT_EQ(entryIndex(100, 500, 1000), 49u);  // 99 × 500 / 1000, rounded down
    EXPECT_EQ(entryIndex(100, 1000, 1000), 99u);
    EXPECT_EQ(entryIndex(100, 999, 1000), 98u);
    EXPECT_EQ(entryIndex(1, 700, 1000), 0u);
    // A one-hour recording in 100-ns units with 40 000 entries.
    EXPECT_EQ(entryIndex(40000, 36'000'000'000, 36'000'000'000), 39999u);
    EXPECT_EQ(entryIndex(40000, 18'000'000'000, 36'000'000'000), 19999u);
}

TEST(IndexRule, OutOfRangePositionsStayInsideTheList) {
    EXPECT_EQ(entryIndex(100, -5, 1000), 0u);
    EXPECT_EQ(entryIndex(100, 5000, 1000), 99u);
    EXPECT_EQ(entryIndex(100, 10, 0), 0u);                      // no duration yet
    EXPECT_EQ(entryIndex(100, INT64_MAX - 1, INT64_MAX), 98u);  // no overflow in the product
    const std::vector<int> empty;
    EXPECT_EQ(entryFor(empty, 0, 10), nullptr);
    const std::vector<int> list{10, 20, 30};
    EXPECT_EQ(*entryFor(list, 10, 10), 30);
}

TEST(Positions, NmeaFormBecomesSignedDecimalDegrees) {
    EXPECT_NEAR(toDecimalDegrees(NmeaAngle(3733.4217), 'N').value(), 37.557028, 1e-6);
    EXPECT_NEAR(toDecimalDegrees(NmeaAngle(12651.8696), 'E').value(), 126.864493, 1e-6);
    EXPECT_NEAR(toDecimalDegrees(NmeaAngle(3733.4217), 'S').value(), -37.557028, 1e-6);
    EXPECT_NEAR(toDecimalDegrees(NmeaAngle(12651.8696), 'W').value(), -126.864493, 1e-6);
    EXPECT_EQ(toDecimalDegrees(NmeaAngle(0.0), 'N').value(), 0.0);
    EXPECT_NEAR(toDecimalDegrees(NmeaAngle(59.99), 'N').value(), 0.99983, 1e-5);

    GpsFix fix;
    EXPECT_FALSE(positionOf(fix));  // 0/0 is no position
    fix.latitude = NmeaAngle(3733.4217);
    fix.longitude = NmeaAngle(12651.8696);
    fix.lonHemisphere = 'W';
    auto pos = positionOf(fix);
    ASSERT_TRUE(pos);
    EXPECT_LT(pos->longitude.value(), 0);
    fix.latitude = NmeaAngle(9130.0);  // beyond the pole
    EXPECT_FALSE(positionOf(fix));
    fix.latitude = NmeaAngle(std::numeric_limits<double>::quiet_NaN());
    EXPECT_FALSE(positionOf(fix));
}

}  // namespace
}  // namespace orvik::recordings
