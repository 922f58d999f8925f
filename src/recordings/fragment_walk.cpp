#include "recordings/fragment_walk.h"

#include <algorithm>
#include <cstring>

#include "platform/byte_order.h"
#include "recordings/byte_source.h"

namespace orvik::recordings {

namespace {
constexpr std::uint64_t kBoxHeaderSize = 8;
}  // namespace

bool BoxHeader::is(const char (&name)[5]) const {
    return std::memcmp(type.data(), name, 4) == 0;
}

std::optional<BoxHeader> readBoxHeader(ByteSource& source, std::uint64_t offset, bool largeSizes) {
    std::array<std::byte, 16> b{};
    const std::size_t got = source.readAt(offset, std::span(b).first(8));
    if (got != 8)
        return std::nullopt;
    BoxHeader h;
    h.offset = offset;
    h.size = platform::loadBe32(b, 0);
    std::memcpy(h.type.data(), b.data() + 4, 4);
    if (largeSizes && h.size == 1) {
        if (source.readAt(offset + 8, std::span(b).subspan(8, 8)) != 8)
            return std::nullopt;
        h.size = platform::loadBe64(b, 8);
        h.headerSize = 16;
    } else if (largeSizes && h.size == 0) {
        h.size = source.size() - offset;
    }
    return h;
}

std::string_view walkEndName(WalkEnd end) {
    switch (end) {
        case WalkEnd::EndOfFile:
            return "end of file";
        case WalkEnd::NotFragment:
            return "box after the last fragment";
        case WalkEnd::BoxTooSmall:
            return "box size below 8";
        case WalkEnd::BoxPastEnd:
            return "box runs past the end of the file";
    }
    return "?";
}

std::size_t RecordingLayout::fragmentsWithoutArea() const {
    return static_cast<std::size_t>(
        std::count_if(fragments.begin(), fragments.end(),
                      [](const Fragment& f) { return !f.hasTelemetryArea(); }));
}

Result<RecordingLayout> walkRecording(ByteSource& source) {
    // Header: "ftyp" with major brand "iso4", then one more box (the movie box) whose size
    // tells where the fragments start.
    std::array<std::byte, 12> head{};
    if (source.readAt(0, head) != head.size())
        return makeError("too short for a file type box");
    if (std::memcmp(head.data() + 4, "ftyp", 4) != 0)
        return makeError("the first box is not \"ftyp\"");
    if (std::memcmp(head.data() + 8, "iso4", 4) != 0)
        return makeError("the major brand is not \"iso4\"");
    RecordingLayout layout;
    layout.fileTypeSize = platform::loadBe32(head, 0);
    std::array<std::byte, 4> movieSize{};
    if (source.readAt(layout.fileTypeSize, movieSize) != movieSize.size())
        return makeError("no box after the file type box");
    layout.movieSize = platform::loadBe32(movieSize, 0);
    if (layout.fileTypeSize < kBoxHeaderSize || layout.movieSize < kBoxHeaderSize) {
        layout.end = WalkEnd::BoxTooSmall;
        layout.endOffset = layout.fileTypeSize < kBoxHeaderSize ? 0 : layout.fileTypeSize;
        return layout;
    }

    const std::uint64_t fileSize = source.size();
    std::uint64_t o = std::uint64_t{layout.fileTypeSize} + layout.movieSize;
    for (;;) {
        layout.endOffset = o;
        const auto moof = readBoxHeader(source, o);
        if (!moof) {
            layout.end = WalkEnd::EndOfFile;
            return layout;
        }
        if (!moof->is("moof")) {
            layout.end = WalkEnd::NotFragment;
            return layout;
        }
        if (moof->size < kBoxHeaderSize) {
            layout.end = WalkEnd::BoxTooSmall;
            return layout;
        }
        const auto media = readBoxHeader(source, moof->end());
        if (!media) {
            layout.end = moof->end() >= fileSize ? WalkEnd::BoxPastEnd : WalkEnd::EndOfFile;
            return layout;
        }
        if (media->size < kBoxHeaderSize) {
            layout.end = WalkEnd::BoxTooSmall;
            return layout;
        }
        if (media->end() > fileSize) {
            layout.end = WalkEnd::BoxPastEnd;
            return layout;
        }
        Fragment f;
        f.offset = o;
        f.size = static_cast<std::uint32_t>(moof->size);
        f.mediaSize = static_cast<std::uint32_t>(media->size);
        layout.fragments.push_back(f);
        o = media->end();  // advances by at least 16 bytes: the walk always ends
    }
}

}  // namespace orvik::recordings
