#pragma once
// Little- and big-endian loads and stores over byte spans: the one place the code spells out
// byte order. Stored formats (MP4 boxes big-endian; telemetry records, FAT structures and the
// camera's files little-endian) are read and written field by field through these, never by
// casting structs. Each takes any contiguous bytes (std::byte, unsigned char or uint8_t: an
// array, a vector, a span) and the field's offset in them.
#include <bit>
#include <cstddef>
#include <cstdint>
#include <ranges>
#include <span>
#include <type_traits>

namespace orvik::platform {

template <typename T>
concept ByteRange = std::ranges::contiguous_range<T> &&
    (std::same_as<std::remove_cv_t<std::ranges::range_value_t<T>>, std::byte> ||
     std::same_as<std::remove_cv_t<std::ranges::range_value_t<T>>, unsigned char>);

namespace byte_order_detail {

template <std::size_t N, typename Bytes>
std::uint64_t load(const Bytes& bytes, std::size_t at, bool big) {
    const auto s = std::span(std::ranges::data(bytes), std::ranges::size(bytes)).subspan(at, N);
    std::uint64_t v = 0;
    for (std::size_t i = 0; i < N; ++i) {
        const auto octet = static_cast<std::uint64_t>(static_cast<unsigned char>(s[i]));
        v |= octet << (8 * (big ? N - 1 - i : i));
    }
    return v;
}

template <std::size_t N, typename Bytes>
void store(Bytes&& bytes, std::size_t at, std::uint64_t v, bool big) {
    const auto s = std::span(std::ranges::data(bytes), std::ranges::size(bytes)).subspan(at, N);
    using Byte = std::remove_reference_t<decltype(s[0])>;
    for (std::size_t i = 0; i < N; ++i)
        s[i] = static_cast<Byte>(static_cast<unsigned char>(v >> (8 * (big ? N - 1 - i : i))));
}

}  // namespace byte_order_detail

template <ByteRange Bytes>
std::uint16_t loadLe16(const Bytes& b, std::size_t at) {
    return static_cast<std::uint16_t>(byte_order_detail::load<2>(b, at, false));
}
template <ByteRange Bytes>
std::uint32_t loadLe32(const Bytes& b, std::size_t at) {
    return static_cast<std::uint32_t>(byte_order_detail::load<4>(b, at, false));
}
template <ByteRange Bytes>
std::uint64_t loadLe64(const Bytes& b, std::size_t at) {
    return byte_order_detail::load<8>(b, at, false);
}
template <ByteRange Bytes>
std::int32_t loadLeI32(const Bytes& b, std::size_t at) {
    return static_cast<std::int32_t>(loadLe32(b, at));
}
template <ByteRange Bytes>
double loadLeF64(const Bytes& b, std::size_t at) {
    return std::bit_cast<double>(loadLe64(b, at));
}
template <ByteRange Bytes>
std::uint16_t loadBe16(const Bytes& b, std::size_t at) {
    return static_cast<std::uint16_t>(byte_order_detail::load<2>(b, at, true));
}
template <ByteRange Bytes>
std::uint32_t loadBe32(const Bytes& b, std::size_t at) {
    return static_cast<std::uint32_t>(byte_order_detail::load<4>(b, at, true));
}
template <ByteRange Bytes>
std::uint64_t loadBe64(const Bytes& b, std::size_t at) {
    return byte_order_detail::load<8>(b, at, true);
}

template <ByteRange Bytes>
void storeLe16(Bytes&& b, std::size_t at, std::uint16_t v) {
    byte_order_detail::store<2>(b, at, v, false);
}
template <ByteRange Bytes>
void storeLe32(Bytes&& b, std::size_t at, std::uint32_t v) {
    byte_order_detail::store<4>(b, at, v, false);
}
template <ByteRange Bytes>
void storeLe64(Bytes&& b, std::size_t at, std::uint64_t v) {
    byte_order_detail::store<8>(b, at, v, false);
}
template <ByteRange Bytes>
void storeLeF64(Bytes&& b, std::size_t at, double v) {
    storeLe64(b, at, std::bit_cast<std::uint64_t>(v));
}
template <ByteRange Bytes>
void storeBe32(Bytes&& b, std::size_t at, std::uint32_t v) {
    byte_order_detail::store<4>(b, at, v, true);
}
template <ByteRange Bytes>
void storeBe64(Bytes&& b, std::size_t at, std::uint64_t v) {
    byte_order_detail::store<8>(b, at, v, true);
}

}  // namespace orvik::platform
