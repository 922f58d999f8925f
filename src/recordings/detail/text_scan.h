#pragma once
// Reading numbers out of file names and NMEA fields the way the C library's conversions do
// (leading white space, optional sign, digits up to the first misfit), without the C library:
// no locale, no allocation, and bounded widths like scanf's "%02d".
#include <charconv>
#include <cstdint>
#include <limits>
#include <string_view>

namespace orvik::recordings::detail {

constexpr bool isCSpace(char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}
constexpr bool isDigit(char c) {
    return c >= '0' && c <= '9';
}

// strtol-like integer of a whole field: 0 when there is no number; saturates at the 32-bit
// range the camera's platform uses for long.
inline std::int32_t fieldInt(std::string_view s) {
    std::size_t i = 0;
    while (i < s.size() && isCSpace(s[i]))
        ++i;
    bool negative = false;
    if (i < s.size() && (s[i] == '+' || s[i] == '-'))
        negative = s[i++] == '-';
    std::int64_t v = 0;
    constexpr std::int64_t kLimit = std::int64_t{std::numeric_limits<std::int32_t>::max()} + 1;
    for (; i < s.size() && isDigit(s[i]); ++i) {
        v = v * 10 + (s[i] - '0');
        if (v > kLimit)
            v = kLimit;
    }
    if (negative)
        v = -v;
    if (v > std::numeric_limits<std::int32_t>::max())
        v = std::numeric_limits<std::int32_t>::max();
    return static_cast<std::int32_t>(v);
}

// strtod-like real of a whole field: 0 when there is no number.
inline double fieldReal(std::string_view s) {
    std::size_t i = 0;
    while (i < s.size() && isCSpace(s[i]))
        ++i;
    bool negative = false;
    if (i < s.size() && (s[i] == '+' || s[i] == '-'))
        negative = s[i++] == '-';
    if (i < s.size() && (s[i] == '+' || s[i] == '-'))
        return 0.0;  // from_chars would take a 2nd sign
    double v = 0.0;
    const char* first = s.data() + i;
    auto [ptr, ec] = std::from_chars(first, s.data() + s.size(), v, std::chars_format::general);
    // Out-of-range exponents give 0 here (strtod would give ±HUGE_VAL or 0); no field the
    // camera writes comes near them.
    if (ec != std::errc{} || ptr == first)
        v = 0.0;
    return negative ? -v : v;
}

// A cursor over text for scanf-style patterns. Every read fails once one read has failed, as
// sscanf stops at the first mismatch.
class FieldScanner {
  public:
    explicit FieldScanner(std::string_view text) : s_(text) {}

    // "%<width>d": white space skipped (not counted), then at most width characters of sign and
    // digits.
    bool readInt(int width, int& out) {
        if (failed_)
            return false;
        while (pos_ < s_.size() && isCSpace(s_[pos_]))
            ++pos_;
        std::size_t end = pos_ + static_cast<std::size_t>(width);
        if (end > s_.size())
            end = s_.size();
        std::size_t i = pos_;
        bool negative = false;
        if (i < end && (s_[i] == '+' || s_[i] == '-'))
            negative = s_[i++] == '-';
        const std::size_t digitsStart = i;
        long v = 0;
        for (; i < end && isDigit(s_[i]); ++i)
            v = v * 10 + (s_[i] - '0');
        if (i == digitsStart)
            return fail();
        pos_ = i;
        out = static_cast<int>(negative ? -v : v);
        return true;
    }

    bool literal(char c) {
        if (failed_)
            return false;
        if (pos_ >= s_.size() || s_[pos_] != c)
            return fail();
        ++pos_;
        return true;
    }

    // "%c" for UTF-8 text: one code point (a stray byte counts as itself).
    bool readChar(char32_t& out) {
        if (failed_)
            return false;
        if (pos_ >= s_.size())
            return fail();
        const auto b0 = static_cast<unsigned char>(s_[pos_]);
        std::size_t len = b0 < 0x80           ? 1
                          : (b0 >> 5) == 0x6  ? 2
                          : (b0 >> 4) == 0xE  ? 3
                          : (b0 >> 3) == 0x1E ? 4
                                              : 0;
        if (len <= 1 || pos_ + len > s_.size()) {
            out = b0;
            ++pos_;
            return true;
        }
        char32_t cp = b0 & (0x7F >> len);
        for (std::size_t k = 1; k < len; ++k) {
            const auto b = static_cast<unsigned char>(s_[pos_ + k]);
            if ((b & 0xC0) != 0x80) {
                out = b0;
                ++pos_;
                return true;
            }
            cp = (cp << 6) | (b & 0x3F);
        }
        out = cp;
        pos_ += len;
        return true;
    }

    void skip(std::size_t n) { pos_ = n > s_.size() - pos_ ? s_.size() : pos_ + n; }
    bool ok() const { return !failed_; }

  private:
    bool fail() {
        failed_ = true;
        return false;
    }
    std::string_view s_;
    std::size_t pos_ = 0;
    bool failed_ = false;
};

}  // namespace orvik::recordings::detail
