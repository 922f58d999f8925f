#include "trips/moment.h"

#include <algorithm>
#include <charconv>
#include <chrono>

namespace orvik::trips {

namespace {

// Digits only, exactly `count` of them, at `at`.
std::optional<int> number(std::string_view text, std::size_t at, std::size_t count) {
    if (at + count > text.size())
        return std::nullopt;
    int value = 0;
    for (std::size_t i = at; i < at + count; ++i) {
        if (text[i] < '0' || text[i] > '9')
            return std::nullopt;
        value = value * 10 + (text[i] - '0');
    }
    return value;
}

bool covers(const TripRecording& r, LocalTime t) {
    return r.start <= t && secondsBetween(r.start, t) < r.stats.durationSeconds;
}

}  // namespace

std::optional<LocalTime> parseLocalTime(std::string_view text) {
    // 2026-03-14T08:15:02[.fff]; a space for the "T" as people type it.
    if (text.size() < 19 || text[4] != '-' || text[7] != '-' ||
        (text[10] != 'T' && text[10] != ' ') || text[13] != ':' || text[16] != ':')
        return std::nullopt;
    const auto y = number(text, 0, 4), mo = number(text, 5, 2), d = number(text, 8, 2);
    const auto h = number(text, 11, 2), mi = number(text, 14, 2), s = number(text, 17, 2);
    if (!y || !mo || !d || !h || !mi || !s || *h > 23 || *mi > 59 || *s > 59)
        return std::nullopt;
    int millis = 0;
    if (text.size() > 19) {
        const std::size_t digits = text.size() - 20;
        if (text[19] != '.' || digits < 1 || digits > 3)
            return std::nullopt;
        const auto f = number(text, 20, digits);
        if (!f)
            return std::nullopt;
        millis = *f * (digits == 1 ? 100 : digits == 2 ? 10 : 1);
    }
    const std::chrono::year_month_day date{std::chrono::year{*y},
                                           std::chrono::month{static_cast<unsigned>(*mo)},
                                           std::chrono::day{static_cast<unsigned>(*d)}};
    if (!date.ok())
        return std::nullopt;
    return LocalTime{std::chrono::sys_days{date}} + std::chrono::hours{*h} +
           std::chrono::minutes{*mi} + std::chrono::seconds{*s} + std::chrono::milliseconds{millis};
}

std::optional<MomentInRecording> findMoment(const std::vector<TripRecording>& moments,
                                            LocalTime t) {
    const TripRecording* best = nullptr;
    for (const TripRecording& r : moments) {
        if (covers(r, t) && (!best || r.start > best->start))
            best = &r;
    }
    if (!best)
        return std::nullopt;
    return MomentInRecording{best->path, secondsBetween(best->start, t)};
}

}  // namespace orvik::trips
