#pragma once
// A recording found on the card, classified from its file name alone.
//
// Names look like "event_20190305_142233_F.mp4": a kind prefix, the date, the time and the
// channel letter ("F" front, anything else rear). Names that do not fit are still listed
// (as Unknown) so the user sees every recording on the card.
#include <cstdint>
#include <string>
#include <string_view>

namespace orvik::recordings {

enum class RecordingKind : int { Unknown = 0, Always = 1, Event = 2, User = 3, Park = 4 };

// English label of the Type column ("Unknown", "Always", "Event", "User", "Park").
std::string_view kindName(RecordingKind kind);
// String-table id of the label (270..273, 289) for the translated Type column.
int kindStringId(RecordingKind kind);
// Small-icon index of a row: 0..2 front Always/Event/Park, 3..5 rear; 6 (= no icon) for User
// and Unknown, which have no icon in the image list.
int kindIconIndex(RecordingKind kind, char32_t channel);

// Date and time as read from the name; fields that could not be read stay zero.
struct RecordingTimestamp {
    int year = 0;
    int month = 0;
    int day = 0;
    int hour = 0;
    int minute = 0;
    int second = 0;

    bool validDate() const;  // a real calendar date (year 1..9999)
    bool validTime() const;  // 00:00:00 .. 23:59:59
    friend bool operator==(const RecordingTimestamp&, const RecordingTimestamp&) = default;
};

struct RecordingFile {
    RecordingKind kind = RecordingKind::Unknown;
    RecordingTimestamp timestamp;
    char32_t channel = 0;  // 0 when the name was not read that far
    std::string key;       // "20190305_142233_F"; empty for names shorter than six characters
    std::string name;      // file name with extension (UTF-8)
    std::string fullPath;  // folder + "/" + name
    std::size_t insertionIndex = 0;  // position in scan-list order; breaks ties between equal keys

    bool isFront() const { return channel == U'F'; }
    std::string channelText() const;  // the channel letter as UTF-8, "" when none
    std::string dateText() const;     // "YYYY-MM-DD", "" when the date is not a valid date
    std::string timeText() const;     // "hh:mm:ss", "" when the date or the time is not valid
};

// Classifies one file name (UTF-8). Short names (under six characters) keep kind Unknown and an
// empty key; a name whose prefix matches keeps its kind even when the rest does not parse, the
// unread fields staying zero.
RecordingFile parseRecordingName(std::string_view name, std::string_view fullPath = {});

// "%04d%02d%02d_%02d%02d%02d_%c" of the parsed values; ends after the second underscore when
// the channel letter is zero.
std::string recordingKey(const RecordingTimestamp& timestamp, char32_t channel);

// Order of the recording list: the keys compared the way the camera's home platform orders text
// (symbols before digits before letters, letters case-blind with lower case first on a tie),
// equal keys in insertion order. Front and rear files of one moment end up side by side, "F"
// before "R".
int compareRecordingKeys(std::string_view a, std::string_view b);
// The key turned into bytes whose plain byte order is that order (for sorting many rows).
std::string recordingSortKey(std::string_view key);
bool recordingListLess(const RecordingFile& a, const RecordingFile& b);

}  // namespace orvik::recordings
