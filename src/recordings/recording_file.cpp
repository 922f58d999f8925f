#include "recordings/recording_file.h"

#include <array>
#include <charconv>

#include "recordings/detail/text_scan.h"

namespace orvik::recordings {

std::string_view kindName(RecordingKind kind) {
    switch (kind) {
        case RecordingKind::Always:
            return "Always";
        case RecordingKind::Event:
            return "Event";
        case RecordingKind::User:
            return "User";
        case RecordingKind::Park:
            return "Park";
        case RecordingKind::Unknown:
            break;
    }
    return "Unknown";
}

int kindStringId(RecordingKind kind) {
    switch (kind) {
        case RecordingKind::Always:
            return 271;
        case RecordingKind::Event:
            return 272;
        case RecordingKind::User:
            return 273;
        case RecordingKind::Park:
            return 289;
        case RecordingKind::Unknown:
            break;
    }
    return 270;
}

int kindIconIndex(RecordingKind kind, char32_t channel) {
    const int rear = channel == U'F' ? 0 : 3;
    switch (kind) {
        case RecordingKind::Always:
            return 0 + rear;
        case RecordingKind::Event:
            return 1 + rear;
        case RecordingKind::Park:
            return 2 + rear;
        case RecordingKind::User:
        case RecordingKind::Unknown:
            break;
    }
    return 6;
}

namespace {

bool leapYear(int y) {
    return (y % 4 == 0 && y % 100 != 0) || y % 400 == 0;
}

void appendUtf8(std::string& out, char32_t cp) {
    if (cp < 0x80) {
        out += static_cast<char>(cp);
    } else if (cp < 0x800) {
        out += static_cast<char>(0xC0 | (cp >> 6));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    } else if (cp < 0x10000) {
        out += static_cast<char>(0xE0 | (cp >> 12));
        out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | (cp >> 18));
        out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    }
}

std::size_t codePoints(std::string_view s) {
    std::size_t n = 0;
    for (char c : s)
        n += (static_cast<unsigned char>(c) & 0xC0) != 0x80;
    return n;
}

struct Prefix {
    std::string_view text;
    RecordingKind kind;
};

// Case-sensitive: "EVENT_..." is an Unknown recording. The evt prefixes carry one more letter
// (the event's cause) that is read and not used.
constexpr std::array<Prefix, 8> kPrefixes{{
    {"alwa_", RecordingKind::Always},
    {"event_", RecordingKind::Event},
    {"evtA_", RecordingKind::Event},
    {"evtF_", RecordingKind::Event},
    {"evtLL_", RecordingKind::Event},
    {"evtLR_", RecordingKind::Event},
    {"user_", RecordingKind::User},
    {"motion_", RecordingKind::Park},
}};

// Sort weight of one key byte in the platform's word order: symbols, digits, letters.
constexpr int keyClass(unsigned char c) {
    if (c >= '0' && c <= '9')
        return 1;
    if ((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'))
        return 2;
    if (c >= 0x80)
        return 3;
    return 0;
}

}  // namespace

bool RecordingTimestamp::validDate() const {
    if (year < 1 || year > 9999 || month < 1 || month > 12 || day < 1)
        return false;
    static constexpr std::array<int, 12> kDays{31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    const int days = kDays[month - 1] + (month == 2 && leapYear(year) ? 1 : 0);
    return day <= days;
}

bool RecordingTimestamp::validTime() const {
    return hour >= 0 && hour <= 23 && minute >= 0 && minute <= 59 && second >= 0 && second <= 59;
}

std::string RecordingFile::channelText() const {
    std::string s;
    if (channel != 0)
        appendUtf8(s, channel);
    return s;
}

namespace {

// printf's "%0<width>d": zero-padded to width, a minus sign counting toward it.
void appendPadded(std::string& out, int value, int width) {
    char digits[16];
    const long long magnitude = value < 0 ? -static_cast<long long>(value) : value;
    auto [end, ec] = std::to_chars(digits, digits + sizeof digits, magnitude);
    (void)ec;
    const int length = static_cast<int>(end - digits);
    if (value < 0)
        out += '-';
    for (int pad = width - length - (value < 0 ? 1 : 0); pad > 0; --pad)
        out += '0';
    out.append(digits, end);
}

}  // namespace

std::string RecordingFile::dateText() const {
    if (!timestamp.validDate())
        return {};
    std::string text;
    text.reserve(10);
    appendPadded(text, timestamp.year, 4);
    text += '-';
    appendPadded(text, timestamp.month, 2);
    text += '-';
    appendPadded(text, timestamp.day, 2);
    return text;
}

std::string RecordingFile::timeText() const {
    if (!timestamp.validDate() || !timestamp.validTime())
        return {};
    std::string text;
    text.reserve(8);
    appendPadded(text, timestamp.hour, 2);
    text += ':';
    appendPadded(text, timestamp.minute, 2);
    text += ':';
    appendPadded(text, timestamp.second, 2);
    return text;
}

std::string recordingKey(const RecordingTimestamp& t, char32_t channel) {
    std::string key;
    key.reserve(20);
    appendPadded(key, t.year, 4);
    appendPadded(key, t.month, 2);
    appendPadded(key, t.day, 2);
    key += '_';
    appendPadded(key, t.hour, 2);
    appendPadded(key, t.minute, 2);
    appendPadded(key, t.second, 2);
    key += '_';
    if (channel != 0)
        appendUtf8(key, channel);
    return key;
}

RecordingFile parseRecordingName(std::string_view name, std::string_view fullPath) {
    RecordingFile file;
    file.name = std::string(name);
    file.fullPath = std::string(fullPath);
    if (codePoints(name) < 6)
        return file;  // too short to carry a prefix: empty key

    for (const Prefix& prefix : kPrefixes) {
        if (!name.starts_with(prefix.text))
            continue;
        file.kind = prefix.kind;
        detail::FieldScanner scan(name);
        // The prefix (with the ignored cause letter of "evt"/"evtL") was matched already.
        scan.skip(prefix.text.size() - 1);
        RecordingTimestamp& t = file.timestamp;
        scan.literal('_') && scan.readInt(4, t.year) && scan.readInt(2, t.month) &&
            scan.readInt(2, t.day) && scan.literal('_') && scan.readInt(2, t.hour) &&
            scan.readInt(2, t.minute) && scan.readInt(2, t.second) && scan.literal('_') &&
            scan.readChar(file.channel);
        break;
    }
    file.key = recordingKey(file.timestamp, file.channel);
    return file;
}

namespace {

// One-byte primary weights in the platform's word order: ASCII symbols, digits, letters with
// case folded, then the bytes of other characters; 0 is left for the terminator.
struct PrimaryWeights {
    std::array<unsigned char, 256> weight{};
    constexpr PrimaryWeights() {
        int next = 1;
        for (int cls = 0; cls < 4; ++cls) {
            for (int c = 0; c < 256; ++c) {
                if (keyClass(static_cast<unsigned char>(c)) != cls)
                    continue;
                if (cls == 2 && c >= 'a')
                    continue;  // lower case shares the upper-case weight
                weight[c] = static_cast<unsigned char>(next++);
                if (cls == 2)
                    weight[c + 'a' - 'A'] = weight[c];
            }
        }
    }
};
constexpr PrimaryWeights kPrimary;

}  // namespace

std::string recordingSortKey(std::string_view key) {
    // Primary weights, a terminator below every weight so that a prefix sorts first, then the
    // bytes inverted so that on a tie the larger byte, i.e. the lower-case letter, comes first.
    std::string out(key.size() * 2 + 1, '\0');
    for (std::size_t i = 0; i < key.size(); ++i) {
        const auto c = static_cast<unsigned char>(key[i]);
        out[i] = static_cast<char>(kPrimary.weight[c]);
        out[key.size() + 1 + i] = static_cast<char>(255 - c);
    }
    return out;
}

int compareRecordingKeys(std::string_view a, std::string_view b) {
    const int c = recordingSortKey(a).compare(recordingSortKey(b));
    return c < 0 ? -1 : c > 0 ? 1 : 0;
}

bool recordingListLess(const RecordingFile& a, const RecordingFile& b) {
    const int c = compareRecordingKeys(a.key, b.key);
    if (c != 0)
        return c < 0;
    return a.insertionIndex < b.insertionIndex;
}

}  // namespace orvik::recordings
