// The media-header duration on an arbitrary file image. The first byte picks whether a valid
// "ftyp" and a movie box declaring track 1 (1 kHz) come first, so runs reach the fragment
// headers as well as the movie header.
#include <cmath>
#include <cstdlib>
#include <string>
#include <vector>

#include "trips/media_duration.h"

namespace {

std::string be32(std::uint32_t v) {
    return {static_cast<char>(v >> 24), static_cast<char>(v >> 16), static_cast<char>(v >> 8),
            static_cast<char>(v)};
}
std::string box(const char* type, const std::string& body) {
    return be32(static_cast<std::uint32_t>(8 + body.size())) + type + body;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0)
        return 0;
    std::string image;
    if (data[0] & 1) {
        image = box("ftyp", "iso4" + be32(0x200) + "iso4");
        const std::string tkhd =
            box("tkhd", std::string(12, '\0') + be32(1) + std::string(68, '\0'));
        const std::string mdhd =
            box("mdhd", std::string(12, '\0') + be32(1000) + be32(0) + be32(0));
        image += box("moov", box("mvhd", std::string(12, '\0') + be32(1000) + be32(0) +
                                             std::string(80, '\0')) +
                                 box("trak", tkhd + box("mdia", mdhd)));
    }
    image.append(reinterpret_cast<const char*>(data) + 1, size - 1);
    orvik::recordings::MemoryByteSource source(
        std::span(reinterpret_cast<const std::byte*>(image.data()), image.size()));
    if (auto d = orvik::trips::mediaDurationSeconds(source); d && !(*d >= 0 && std::isfinite(*d)))
        std::abort();
    return 0;
}
