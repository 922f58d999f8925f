#include "platform/crc32c.h"

#include <array>
#include <cstring>

namespace orvik::platform {

namespace {

constexpr std::uint32_t kPolynomial = 0x82F63B78;  // reflected

constexpr std::array<std::uint32_t, 256> makeTable() {
    std::array<std::uint32_t, 256> table{};
    for (std::uint32_t i = 0; i < 256; ++i) {
        std::uint32_t c = i;
        for (int k = 0; k < 8; ++k)
            c = (c & 1) ? (c >> 1) ^ kPolynomial : c >> 1;
        table[i] = c;
    }
    return table;
}
constexpr auto kTable = makeTable();

std::uint32_t bytewise(std::uint32_t c, const std::uint8_t* p, std::size_t n) {
    for (std::size_t i = 0; i < n; ++i)
        c = kTable[(c ^ p[i]) & 0xFF] ^ (c >> 8);
    return c;
}

#if defined(__x86_64__)
__attribute__((target("sse4.2"))) std::uint32_t oneStream(std::uint32_t c, const std::uint8_t* p,
                                                          std::size_t n) {
    std::uint64_t c64 = c;
    for (; n >= 8; n -= 8, p += 8) {
        std::uint64_t word = 0;
        std::memcpy(&word, p, 8);
        c64 = __builtin_ia32_crc32di(c64, word);
    }
    c = static_cast<std::uint32_t>(c64);
    for (; n > 0; --n, ++p)
        c = __builtin_ia32_crc32qi(c, *p);
    return c;
}

// The instruction takes three cycles but can start one a cycle, so three independent runs over
// three stretches of a block go about three times as fast as one; their registers are then
// joined by moving the earlier ones past the bytes after them (the CRC is linear, so moving a
// register past kStretch zero bytes is a fixed table lookup).
constexpr std::size_t kStretch = 8192;

// shifted(c) = the register c carried on over kStretch zero bytes.
struct StretchShift {
    std::array<std::array<std::uint32_t, 256>, 4> table{};
    StretchShift() {
        std::array<std::uint32_t, 32> bit{};
        // Each single-bit register carried over the zeros once (table-driven, at start-up).
        for (int b = 0; b < 32; ++b) {
            std::uint32_t c = 1u << b;
            for (std::size_t i = 0; i < kStretch; ++i)
                c = kTable[c & 0xFF] ^ (c >> 8);
            bit[b] = c;
        }
        for (int k = 0; k < 4; ++k)
            for (std::uint32_t v = 0; v < 256; ++v) {
                std::uint32_t c = 0;
                for (int b = 0; b < 8; ++b)
                    if (v & (1u << b))
                        c ^= bit[8 * k + b];
                table[k][v] = c;
            }
    }
    std::uint32_t operator()(std::uint32_t c) const {
        return table[0][c & 0xFF] ^ table[1][(c >> 8) & 0xFF] ^ table[2][(c >> 16) & 0xFF] ^
               table[3][c >> 24];
    }
};

__attribute__((target("sse4.2"))) std::uint32_t withInstruction(std::uint32_t c,
                                                                const std::uint8_t* p,
                                                                std::size_t n) {
    static const StretchShift shift;
    for (; n >= 3 * kStretch; n -= 3 * kStretch, p += 3 * kStretch) {
        std::uint64_t a = c;
        std::uint64_t b = 0;
        std::uint64_t d = 0;
        for (std::size_t i = 0; i < kStretch; i += 8) {
            std::uint64_t wa = 0;
            std::uint64_t wb = 0;
            std::uint64_t wd = 0;
            std::memcpy(&wa, p + i, 8);
            std::memcpy(&wb, p + kStretch + i, 8);
            std::memcpy(&wd, p + 2 * kStretch + i, 8);
            a = __builtin_ia32_crc32di(a, wa);
            b = __builtin_ia32_crc32di(b, wb);
            d = __builtin_ia32_crc32di(d, wd);
        }
        c = shift(shift(static_cast<std::uint32_t>(a)) ^ static_cast<std::uint32_t>(b)) ^
            static_cast<std::uint32_t>(d);
    }
    return oneStream(c, p, n);
}
bool haveInstruction() {
    static const bool have = [] {
        __builtin_cpu_init();
        return __builtin_cpu_supports("sse4.2") != 0;
    }();
    return have;
}
#endif

}  // namespace

std::uint32_t crc32c(std::uint32_t crc, std::span<const std::uint8_t> bytes) {
    std::uint32_t c = ~crc;
#if defined(__x86_64__)
    if (haveInstruction())
        return ~withInstruction(c, bytes.data(), bytes.size());
#endif
    return ~bytewise(c, bytes.data(), bytes.size());
}

}  // namespace orvik::platform
