// The telemetry reader on an arbitrary file image. The first byte picks how much of a valid
// recording is put around the input, so that runs reach every stage:
//   bit 0: a valid "ftyp"/"moov" header in front;
//   bit 1: the rest laid out as fragments whose slots hold framed records ("K737" ... "END\0"),
//          the input supplying each record's body and a few media-box sizes.
#include <cstdlib>
#include <cstring>
#include <vector>

#include "recordings/telemetry.h"

using namespace orvik::recordings;

namespace {

void put(std::vector<std::byte>& out, const void* p, std::size_t n) {
    const auto* b = static_cast<const std::byte*>(p);
    out.insert(out.end(), b, b + n);
}

void putBe32(std::vector<std::byte>& out, std::uint32_t v) {
    const unsigned char b[4] = {static_cast<unsigned char>(v >> 24),
                                static_cast<unsigned char>(v >> 16),
                                static_cast<unsigned char>(v >> 8), static_cast<unsigned char>(v)};
    put(out, b, 4);
}

void framedFragments(std::vector<std::byte>& out, const unsigned char* data, std::size_t size) {
    while (size > 0) {
        // One control byte per fragment: a media payload of 0..255 bytes, or a lying size.
        const unsigned char control = data[0];
        ++data, --size;
        const std::size_t payload = control & 0x7F;
        putBe32(out, 24);
        put(out, "moof", 4);
        out.resize(out.size() + 16);
        const std::uint32_t mediaSize =
            (control & 0x80) ? control * 0x01010101u
                             : static_cast<std::uint32_t>(8 + payload + kTelemetryAreaSize);
        putBe32(out, mediaSize);
        put(out, "mdat", 4);
        out.resize(out.size() + payload);
        for (std::size_t slot = 0; slot < kTelemetrySlotsPerFragment; ++slot) {
            unsigned char record[kTelemetrySlotSize] = {};
            std::memcpy(record + 2, "K737", 4);
            const std::size_t n = size < kTelemetrySlotSize - 10 ? size : kTelemetrySlotSize - 10;
            std::memcpy(record + 6, data, n);
            data += n, size -= n;
            std::memcpy(record + kTelemetrySlotSize - 4, "END", 4);
            put(out, record, sizeof record);
        }
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const unsigned char* data, std::size_t size) {
    if (size == 0)
        return 0;
    static const unsigned char kHeader[] = {0,   0,   0, 20, 'f', 't', 'y', 'p', 'i', 's',
                                            'o', '4', 0, 0,  2,   0,   'i', 's', 'o', '4',
                                            0,   0,   0, 8,  'm', 'o', 'o', 'v'};
    const unsigned char mode = data[0];
    std::vector<std::byte> image;
    if (mode & 1)
        put(image, kHeader, sizeof kHeader);
    if (mode & 2) {
        framedFragments(image, data + 1, size - 1);
    } else {
        put(image, data + 1, size - 1);
    }

    MemoryByteSource source(image);
    TelemetryTrack track;
    ReadReport report;
    const orvik::HResult hr = track.readRecording(source, &report);
    // Four lists of one length, no records from a failed read, none beyond what fits.
    const std::size_t n = track.fixes().size();
    if (track.accelSamples().size() != n || track.rawAccel().size() != n ||
        track.timestamps().size() != n)
        std::abort();
    if (orvik::failed(hr) && (n != 0 || report.error.empty()))
        std::abort();
    if (n > image.size() / kTelemetryRecordSize || report.records != n)
        std::abort();
    if (report.endOffset > image.size() + 0xFFFFFFFFull)
        std::abort();
    return 0;
}
