#include "samplecard/fragmented_mp4.h"

#include <fstream>

namespace orvik::tools {
namespace {

std::uint32_t readU32(const std::uint8_t* p) {
    return std::uint32_t(p[0]) << 24 | std::uint32_t(p[1]) << 16 | std::uint32_t(p[2]) << 8 | p[3];
}

std::uint64_t readU64(const std::uint8_t* p) {
    return std::uint64_t(readU32(p)) << 32 | readU32(p + 4);
}

void writeU32(std::uint8_t* p, std::uint32_t v) {
    p[0] = std::uint8_t(v >> 24);
    p[1] = std::uint8_t(v >> 16);
    p[2] = std::uint8_t(v >> 8);
    p[3] = std::uint8_t(v);
}

}  // namespace

Result<std::vector<Box>> listTopLevelBoxes(std::span<const std::uint8_t> image) {
    std::vector<Box> boxes;
    std::uint64_t o = 0;
    while (o < image.size()) {
        if (image.size() - o < 8)
            return makeError("truncated box header at offset " + std::to_string(o));
        std::uint64_t size = readU32(&image[o]);
        std::uint64_t header = 8;
        if (size == 1) {
            if (image.size() - o < 16)
                return makeError("truncated large box header");
            size = readU64(&image[o + 8]);
            header = 16;
        } else if (size == 0) {
            size = image.size() - o;  // extends to the end of the file
        }
        if (size < header || size > image.size() - o)
            return makeError("box at offset " + std::to_string(o) + " has a bad size");
        boxes.push_back({o, size, std::string(reinterpret_cast<const char*>(&image[o + 4]), 4)});
        o += size;
    }
    return boxes;
}

Result<std::vector<Box>> listTopLevelBoxesOfFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in)
        return makeError("cannot open " + path);
    std::vector<std::uint8_t> image((std::istreambuf_iterator<char>(in)),
                                    std::istreambuf_iterator<char>());
    return listTopLevelBoxes(image);
}

std::size_t countFragments(const std::vector<Box>& boxes) {
    std::size_t n = 0;
    for (const auto& b : boxes)
        n += b.type == "moof";
    return n;
}

Result<std::vector<std::uint8_t>> embedTelemetry(
    std::span<const std::uint8_t> image, const std::vector<std::vector<std::uint8_t>>& areas) {
    auto listed = listTopLevelBoxes(image);
    if (!listed)
        return makeError(listed.error());
    const auto& boxes = listed.value();
    if (boxes.size() < 2 || boxes[0].type != "ftyp" || boxes[1].type != "moov")
        return makeError("the muxer did not write ftyp and moov first");

    std::vector<std::uint8_t> out(image.begin(), image.begin() + boxes[1].offset + boxes[1].size);
    std::size_t fragment = 0;
    for (std::size_t i = 2; i + 1 < boxes.size() && boxes[i].type == "moof"; i += 2) {
        const Box& moof = boxes[i];
        const Box& mdat = boxes[i + 1];
        if (mdat.type != "mdat")
            return makeError("moof not followed by mdat");
        if (image[mdat.offset] == 0 && image[mdat.offset + 1] == 0 && image[mdat.offset + 2] == 0 &&
            image[mdat.offset + 3] <= 1)
            return makeError(
                "media box with a 64-bit or open size; the camera layout needs 32 bits");
        out.insert(out.end(), image.begin() + moof.offset, image.begin() + mdat.offset + mdat.size);
        if (!areas.empty()) {
            if (fragment >= areas.size())
                return makeError("fewer telemetry areas than fragments");
            const auto& area = areas[fragment];
            const std::uint64_t grown = mdat.size + area.size();
            if (grown > 0xFFFFFFFFull)
                return makeError("media box too large");
            writeU32(&out[out.size() - mdat.size], static_cast<std::uint32_t>(grown));
            out.insert(out.end(), area.begin(), area.end());
        }
        ++fragment;
    }
    if (!areas.empty() && fragment != areas.size())
        return makeError("telemetry areas do not match the fragments");
    if (out.size() > 0x7FFFFFFFull)
        return makeError("recording larger than 2 GB");
    return out;
}

}  // namespace orvik::tools
