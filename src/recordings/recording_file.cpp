#include "recordings/recording_file.h"

#include <array>
#include <cstdio>

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
int keyClass(unsigned char c) {
    if (c >= '0' && c <= '9')
        return 1;
    if ((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'))
        return 2;
    if (c >= 0x80)
        return 3;
    return 0;
}

int foldAscii(unsigned char c) {
    return (c >= 'A' && c <= 'Z') ? c + ('a' - 'A') : c;
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

std::string RecordingFile::dateText() const {
    if (!timestamp.validDate())
        return {};
    char buf[48];
    std::snprintf(buf, sizeof buf, "%04d-%02d-%02d", timestamp.year, timestamp.month,
                  timestamp.day);
    return buf;
}

std::string RecordingFile::timeText() const {
    if (!timestamp.validDate() || !timestamp.validTime())
        return {};
    char buf[48];
    std::snprintf(buf, sizeof buf, "%02d:%02d:%02d", timestamp.hour, timestamp.minute,
                  timestamp.second);
    return buf;
}

std::string recordingKey(const RecordingTimestamp& t, char32_t channel) {
    char buf[96];
    std::snprintf(buf, sizeof buf, "%04d%02d%02d_%02d%02d%02d_", t.year, t.month, t.day, t.hour,
                  t.minute, t.second);
    std::string key = buf;
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

int compareRecordingKeys(std::string_view a, std::string_view b) {
    // First pass: class, then case-blind value; second pass: lower case before upper case.
    const std::size_t n = a.size() < b.size() ? a.size() : b.size();
    for (std::size_t i = 0; i < n; ++i) {
        const auto ca = static_cast<unsigned char>(a[i]);
        const auto cb = static_cast<unsigned char>(b[i]);
        if (ca == cb)
            continue;
        const int ka = keyClass(ca), kb = keyClass(cb);
        if (ka != kb)
            return ka < kb ? -1 : 1;
        const int fa = foldAscii(ca), fb = foldAscii(cb);
        if (fa != fb)
            return fa < fb ? -1 : 1;
    }
    if (a.size() != b.size())
        return a.size() < b.size() ? -1 : 1;
    for (std::size_t i = 0; i < n; ++i) {
        const auto ca = static_cast<unsigned char>(a[i]);
        const auto cb = static_cast<unsigned char>(b[i]);
        if (ca != cb)
            return ca > cb ? -1 : 1;  // 'f' (0x66) before 'F' (0x46)
    }
    return 0;
}

bool recordingListLess(const RecordingFile& a, const RecordingFile& b) {
    const int c = compareRecordingKeys(a.key, b.key);
    if (c != 0)
        return c < 0;
    return a.insertionIndex < b.insertionIndex;
}

}  // namespace orvik::recordings
