#include "device_config/time_file.h"

#include <cerrno>
#include <charconv>
#include <cstdio>
#include <ctime>
#include <filesystem>

namespace orvik::device_config {

std::string formatTimeFile(const DeviceTime& t) {
    char buf[64];
    std::snprintf(buf, sizeof buf, "%d/%02d/%02d %02d:%02d:%02d", t.year, t.month, t.day, t.hour,
                  t.minute, t.second);
    return buf;
}

bool isValidDeviceTime(const DeviceTime& t) {
    if (t.year < 1900 || t.year > 9999 || t.month < 1 || t.month > 12 || t.day < 1)
        return false;
    static constexpr int kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    bool leap = (t.year % 4 == 0 && t.year % 100 != 0) || t.year % 400 == 0;
    int days = kDays[t.month - 1] + (t.month == 2 && leap ? 1 : 0);
    return t.day <= days && t.hour >= 0 && t.hour <= 23 && t.minute >= 0 && t.minute <= 59 &&
           t.second >= 0 && t.second <= 59;
}

Result<DeviceTime> parseDeviceTime(std::string_view text) {
    auto bad = [&] {
        return makeError("\"" + std::string(text) +
                         "\" is not a date and time like 2024-03-05 08:07:06");
    };
    // YYYY-MM-DD hh:mm:ss: fixed positions, digits only in between.
    if (text.size() != 19 || text[4] != '-' || text[7] != '-' ||
        (text[10] != ' ' && text[10] != 'T') || text[13] != ':' || text[16] != ':')
        return bad();
    auto num = [&](std::size_t pos, std::size_t len, int& out) {
        auto [p, ec] = std::from_chars(text.data() + pos, text.data() + pos + len, out);
        return ec == std::errc() && p == text.data() + pos + len && text[pos] != '-' &&
               text[pos] != '+';
    };
    DeviceTime t;
    if (!num(0, 4, t.year) || !num(5, 2, t.month) || !num(8, 2, t.day) || !num(11, 2, t.hour) ||
        !num(14, 2, t.minute) || !num(17, 2, t.second))
        return bad();
    if (!isValidDeviceTime(t))
        return makeError("\"" + std::string(text) + "\" is not a valid moment");
    return t;
}

DeviceTime currentLocalTime() {
    std::time_t now = std::time(nullptr);
    std::tm tm{};
    localtime_r(&now, &tm);
    return DeviceTime{tm.tm_year + 1900, tm.tm_mon + 1, tm.tm_mday,
                      tm.tm_hour,        tm.tm_min,     std::min(tm.tm_sec, 59)};
}

std::optional<std::string> findTimeFileOnCard(const std::vector<platform::Volume>& volumes) {
    for (const auto& v : volumes) {
        auto path = std::filesystem::path(v.mountPoint) / kTimeFileName;
        std::error_code ec;
        if (std::filesystem::exists(path, ec) && !std::filesystem::is_directory(path, ec))
            return path.string();
    }
    return std::nullopt;
}

SaveOutcome writeTimeFile(const std::string& path, const DeviceTime& time) {
    SaveOutcome out;
    out.path = path;
    if (!isValidDeviceTime(time)) {
        out.status = SaveStatus::Failed;
        out.error = "cannot write " + path + ": " + formatTimeFile(time) + " is not a valid moment";
        out.errorNumber = EINVAL;
        return out;
    }
    return saveAtomically(path, formatTimeFile(time));
}

}  // namespace orvik::device_config
