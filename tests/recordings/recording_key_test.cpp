// File-name grammar, recording keys and the order of the recording list.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "recordings/catalogue.h"
#include "recordings/recording_file.h"

namespace orvik::recordings {
namespace {

struct NameCase {
    const char* name;
    RecordingKind kind;
    RecordingTimestamp timestamp;
    char32_t channel;
    const char* key;
};

TEST(RecordingName, GrammarTable) {
    const NameCase cases[] = {
        {"alwa_20190305_142233_F.mp4",
         RecordingKind::Always,
         {2019, 3, 5, 14, 22, 33},
         U'F',
         "20190305_142233_F"},
        {"event_20190305_142233_R.mp4",
         RecordingKind::Event,
         {2019, 3, 5, 14, 22, 33},
         U'R',
         "20190305_142233_R"},
        {"evtA_20200101_000000_F.mp4",
         RecordingKind::Event,
         {2020, 1, 1, 0, 0, 0},
         U'F',
         "20200101_000000_F"},
        {"evtF_20211231_235959_R.mp4",
         RecordingKind::Event,
         {2021, 12, 31, 23, 59, 59},
         U'R',
         "20211231_235959_R"},
        {"evtLL_20190305_142233_F.mp4",
         RecordingKind::Event,
         {2019, 3, 5, 14, 22, 33},
         U'F',
         "20190305_142233_F"},
        {"evtLR_20190305_142233_R.mp4",
         RecordingKind::Event,
         {2019, 3, 5, 14, 22, 33},
         U'R',
         "20190305_142233_R"},
        {"user_20190305_142233_F.mp4",
         RecordingKind::User,
         {2019, 3, 5, 14, 22, 33},
         U'F',
         "20190305_142233_F"},
        {"motion_20190305_142233_R.mp4",
         RecordingKind::Park,
         {2019, 3, 5, 14, 22, 33},
         U'R',
         "20190305_142233_R"},
        // Prefixes are case-sensitive; the extension does not matter to the grammar.
        {"EVENT_20190305_142233_F.MP4", RecordingKind::Unknown, {}, 0, "00000000_000000_"},
        {"evtX_20190305_142233_F.mp4", RecordingKind::Unknown, {}, 0, "00000000_000000_"},
        {"event_20190305_142233_F.MP4",
         RecordingKind::Event,
         {2019, 3, 5, 14, 22, 33},
         U'F',
         "20190305_142233_F"},
        // The rest stops at the first mismatch; unread fields stay zero.
        {"event_2019x305_142233_F.mp4", RecordingKind::Event, {2019}, 0, "20190000_000000_"},
        {"event_20190305-142233_F.mp4", RecordingKind::Event, {2019, 3, 5}, 0, "20190305_000000_"},
        {"alwa_20190305_142233.mp4",
         RecordingKind::Always,
         {2019, 3, 5, 14, 22, 33},
         0,
         "20190305_142233_"},
        {"alwa_.mp4", RecordingKind::Always, {}, 0, "00000000_000000_"},
        // Fields are numbers of bounded width with optional white space and sign.
        {"alwa_ 2019 3 5_ 1 2 3_F.mp4",
         RecordingKind::Always,
         {2019, 3, 5, 1, 2, 3},
         U'F',
         "20190305_010203_F"},
        {"alwa_+019-3+5_142233_F.mp4",
         RecordingKind::Always,
         {19, -3, 5, 14, 22, 33},
         U'F',
         "0019-305_142233_F"},
        // Invalid dates still parse.
        {"event_20191345_256199_F.mp4",
         RecordingKind::Event,
         {2019, 13, 45, 25, 61, 99},
         U'F',
         "20191345_256199_F"},
        // Anything after the channel letter is ignored.
        {"user_20190305_142233_Rxyz.avi",
         RecordingKind::User,
         {2019, 3, 5, 14, 22, 33},
         U'R',
         "20190305_142233_R"},
        {"unknown.mp4", RecordingKind::Unknown, {}, 0, "00000000_000000_"},
        {"a.mp4", RecordingKind::Unknown, {}, 0, ""},
        {"alwa_", RecordingKind::Unknown, {}, 0, ""},
        // A non-ASCII channel letter is one character.
        {"alwa_20190305_142233_\xC3\x9C.mp4",
         RecordingKind::Always,
         {2019, 3, 5, 14, 22, 33},
         U'\u00DC',
         "20190305_142233_\xC3\x9C"},
    };
    for (const NameCase& c : cases) {
        SCOPED_TRACE(c.name);
        const RecordingFile f = parseRecordingName(c.name, std::string("/card/") + c.name);
        EXPECT_EQ(f.kind, c.kind);
        EXPECT_EQ(f.timestamp, c.timestamp);
        EXPECT_EQ(f.channel, c.channel);
        EXPECT_EQ(f.key, c.key);
        EXPECT_EQ(f.name, c.name);
        EXPECT_EQ(f.fullPath, std::string("/card/") + c.name);
    }
}

TEST(RecordingName, ShortNamesCountCharactersNotBytes) {
    // Five characters, more than five bytes: still too short to parse.
    EXPECT_EQ(parseRecordingName("\xEA\xB0\x80.mp4").key, "");
    EXPECT_EQ(parseRecordingName("\xEA\xB0\x80\xEA\xB0\x80.mp4").key, "00000000_000000_");
}

TEST(RecordingName, DateAndTimeTexts) {
    RecordingFile f = parseRecordingName("event_20190305_142233_F.mp4");
    EXPECT_EQ(f.dateText(), "2019-03-05");
    EXPECT_EQ(f.timeText(), "14:22:33");
    EXPECT_EQ(f.channelText(), "F");

    f = parseRecordingName("event_20200229_000000_F.mp4");
    EXPECT_EQ(f.dateText(), "2020-02-29");  // leap day
    f = parseRecordingName("event_20190229_000000_F.mp4");
    EXPECT_EQ(f.dateText(), "");
    EXPECT_EQ(f.timeText(), "");  // no time without a date

    f = parseRecordingName("event_20190305_246000_F.mp4");  // valid date, invalid time
    EXPECT_EQ(f.dateText(), "2019-03-05");
    EXPECT_EQ(f.timeText(), "");

    f = parseRecordingName("clip.mp4");  // Unknown: month and year 0
    EXPECT_EQ(f.dateText(), "");
    EXPECT_EQ(f.timeText(), "");
    EXPECT_EQ(f.channelText(), "");
}

TEST(RecordingName, KindLabelsAndIcons) {
    EXPECT_EQ(kindName(RecordingKind::Park), "Park");
    EXPECT_EQ(kindStringId(RecordingKind::Unknown), 270);
    EXPECT_EQ(kindStringId(RecordingKind::Park), 289);
    EXPECT_EQ(kindIconIndex(RecordingKind::Event, U'F'), 1);
    EXPECT_EQ(kindIconIndex(RecordingKind::Event, U'R'), 4);
    EXPECT_EQ(kindIconIndex(RecordingKind::Park, U'x'), 5);
    EXPECT_EQ(kindIconIndex(RecordingKind::Always, 0), 3);  // no letter counts as rear
    EXPECT_EQ(kindIconIndex(RecordingKind::User, U'F'), 6);
    EXPECT_EQ(kindIconIndex(RecordingKind::Unknown, U'F'), 6);
}

std::vector<std::string> sortedNames(const std::vector<std::string>& names) {
    std::vector<FileEntry> entries;
    for (const auto& n : names)
        entries.push_back({"/card", n});
    auto rows = makeRecordingList(entries);
    sortRecordingList(rows);
    std::vector<std::string> out;
    for (const auto& r : rows)
        out.push_back(r.name);
    return out;
}

TEST(RecordingList, FrontAndRearOfOneMomentStandTogether) {
    EXPECT_EQ(
        sortedNames({"event_20190305_142233_R.mp4", "alwa_20190305_142200_R.mp4",
                     "event_20190305_142233_F.mp4", "alwa_20190305_142200_F.mp4"}),
        (std::vector<std::string>{"alwa_20190305_142200_F.mp4", "alwa_20190305_142200_R.mp4",
                                  "event_20190305_142233_F.mp4", "event_20190305_142233_R.mp4"}));
}

TEST(RecordingList, KindDoesNotOrderOnlyTimeAndChannelDo) {
    EXPECT_EQ(
        sortedNames({"user_20190305_142234_F.mp4", "motion_20190305_142233_R.mp4",
                     "evtLR_20190305_142233_F.mp4"}),
        (std::vector<std::string>{"evtLR_20190305_142233_F.mp4", "motion_20190305_142233_R.mp4",
                                  "user_20190305_142234_F.mp4"}));
}

TEST(RecordingList, EqualKeysKeepInsertionOrderAndShortNamesComeFirst) {
    // "b.mp4" and "a.mp4" have empty keys; the two Unknown names share "00000000_000000_".
    EXPECT_EQ(sortedNames({"zz_unknown.mp4", "b.mp4", "alwa_20190305_142233_F.mp4", "a.mp4",
                           "aa_unknown.mp4"}),
              (std::vector<std::string>{"b.mp4", "a.mp4", "zz_unknown.mp4", "aa_unknown.mp4",
                                        "alwa_20190305_142233_F.mp4"}));
}

TEST(RecordingList, KeyOrderIsCaseBlindLowerFirstOnATie) {
    EXPECT_LT(compareRecordingKeys("20190305_142233_F", "20190305_142233_R"), 0);
    EXPECT_LT(compareRecordingKeys("20190305_142233_f", "20190305_142233_F"), 0);
    EXPECT_LT(compareRecordingKeys("20190305_142233_F", "20190305_142233_r"), 0);
    EXPECT_LT(compareRecordingKeys("20190305_142233_", "20190305_142233_F"), 0);
    EXPECT_LT(compareRecordingKeys("", "00000000_000000_"), 0);
    EXPECT_LT(compareRecordingKeys("-0010305_142233_F", "00010305_142233_F"), 0);  // symbols first
    EXPECT_EQ(compareRecordingKeys("20190305_142233_F", "20190305_142233_F"), 0);
}

}  // namespace
}  // namespace orvik::recordings

namespace orvik::recordings {
namespace {

// The list sort takes shortcuts for speed; it must order exactly as the key comparison does,
// also for keys with case variants, symbols, non-ASCII letters and long or empty keys.
TEST(RecordingList, FastSortAgreesWithTheKeyOrder) {
    const char* pieces[] = {"2019",
                            "0305",
                            "_",
                            "14",
                            "22",
                            "33",
                            "F",
                            "f",
                            "R",
                            "r",
                            "-",
                            "+",
                            "\xC3\x9C",
                            "0",
                            "9",
                            "",
                            "20190305_142233_",
                            "x"};
    std::uint32_t seed = 12345;
    const auto next = [&] { return seed = seed * 1664525u + 1013904223u; };
    std::vector<RecordingFile> rows;
    for (std::size_t i = 0; i < 3000; ++i) {
        RecordingFile r;
        const int parts = static_cast<int>(next() % 12);
        for (int k = 0; k < parts; ++k)
            r.key += pieces[next() % std::size(pieces)];
        r.insertionIndex = next() % 500;  // duplicates on purpose
        r.name = std::to_string(i);
        rows.push_back(r);
    }
    std::vector<RecordingFile> expected = rows;
    std::stable_sort(expected.begin(), expected.end(), recordingListLess);
    sortRecordingList(rows);
    ASSERT_EQ(rows.size(), expected.size());
    for (std::size_t i = 0; i < rows.size(); ++i) {
        ASSERT_EQ(rows[i].key, expected[i].key) << i;
        ASSERT_EQ(rows[i].insertionIndex, expected[i].insertionIndex) << i;
    }
}

}  // namespace
}  // namespace orvik::recordings
