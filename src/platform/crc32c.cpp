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
__attribute__((target("sse4.2"))) std::uint32_t withInstruction(std::uint32_t c,
                                                                const std::uint8_t* p,
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
