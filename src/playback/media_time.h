#pragma once
// Media time: every playback position, duration and seek target, a signed 64-bit count of
// 100-nanosecond units. A type of its own, so that seconds, milliseconds and raw counts cannot be
// mixed up with it: the conversions are named.
#include <cmath>
#include <compare>
#include <cstdint>
#include <ostream>

namespace orvik::playback {

class MediaTime {
  public:
    static constexpr std::int64_t kUnitsPerSecond = 10'000'000;

    constexpr MediaTime() = default;
    static constexpr MediaTime fromUnits(std::int64_t units) { return MediaTime(units); }
    // Rounded to the nearest unit.
    static MediaTime fromSeconds(double seconds) {
        return MediaTime(static_cast<std::int64_t>(std::llround(seconds * kUnitsPerSecond)));
    }
    static constexpr MediaTime fromMilliseconds(std::int64_t ms) {
        return MediaTime(ms * (kUnitsPerSecond / 1000));
    }

    constexpr std::int64_t units() const { return units_; }
    constexpr double seconds() const { return static_cast<double>(units_) / kUnitsPerSecond; }
    constexpr double milliseconds() const { return static_cast<double>(units_) / 10'000.0; }

    constexpr auto operator<=>(const MediaTime&) const = default;
    constexpr MediaTime operator+(MediaTime o) const { return MediaTime(units_ + o.units_); }
    constexpr MediaTime operator-(MediaTime o) const { return MediaTime(units_ - o.units_); }
    constexpr MediaTime operator-() const { return MediaTime(-units_); }
    constexpr MediaTime& operator+=(MediaTime o) {
        units_ += o.units_;
        return *this;
    }
    constexpr MediaTime& operator-=(MediaTime o) {
        units_ -= o.units_;
        return *this;
    }
    // Scaling a span of time by a count (frames, steps).
    friend constexpr MediaTime operator*(std::int64_t n, MediaTime t) {
        return MediaTime(n * t.units_);
    }
    friend constexpr MediaTime operator*(MediaTime t, std::int64_t n) { return n * t; }
    friend constexpr MediaTime operator/(MediaTime t, std::int64_t n) {
        return MediaTime(t.units_ / n);
    }

  private:
    constexpr explicit MediaTime(std::int64_t units) : units_(units) {}
    std::int64_t units_ = 0;
};

// For messages and test failures: seconds with the full precision of a unit.
inline std::ostream& operator<<(std::ostream& os, MediaTime t) {
    const auto flags = os.flags();
    const auto precision = os.precision();
    os.setf(std::ios::fixed, std::ios::floatfield);
    os.precision(7);
    os << t.seconds() << " s";
    os.flags(flags);
    os.precision(precision);
    return os;
}

}  // namespace orvik::playback
