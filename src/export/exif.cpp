#include "export/exif.h"

#include <libexif/exif-data.h>
#include <libexif/exif-entry.h>
#include <libexif/exif-utils.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>

namespace orvik::exporting {

namespace {

struct ExifDataDeleter {
    void operator()(ExifData* d) const { exif_data_unref(d); }
};

// Adds an entry of the given format and component count with freshly allocated data.
ExifEntry* addEntry(ExifData* data, ExifIfd ifd, ExifTag tag, ExifFormat format,
                    unsigned long components) {
    ExifMem* mem = exif_mem_new_default();
    ExifEntry* entry = exif_entry_new_mem(mem);
    const unsigned long size = exif_format_get_size(format) * components;
    entry->data = static_cast<unsigned char*>(exif_mem_alloc(mem, size));
    entry->size = size;
    entry->tag = tag;
    entry->components = components;
    entry->format = format;
    exif_content_add_entry(data->ifd[ifd], entry);
    exif_mem_unref(mem);
    exif_entry_unref(entry);
    return entry;
}

void setAscii(ExifData* data, ExifIfd ifd, ExifTag tag, const std::string& text) {
    ExifEntry* e = addEntry(data, ifd, tag, EXIF_FORMAT_ASCII, text.size() + 1);
    std::memcpy(e->data, text.c_str(), text.size() + 1);
}

void setRationals(ExifData* data, ExifIfd ifd, ExifTag tag, const ExifRational* values,
                  unsigned count) {
    ExifEntry* e = addEntry(data, ifd, tag, EXIF_FORMAT_RATIONAL, count);
    const ExifByteOrder order = exif_data_get_byte_order(data);
    for (unsigned i = 0; i < count; ++i)
        exif_set_rational(e->data + 8 * i, order, values[i]);
}

// Degrees, minutes and seconds (to 1/10000 s) of an unsigned angle.
void degreesMinutesSeconds(double value, ExifRational out[3]) {
    value = std::fabs(value);
    const double degrees = std::floor(value);
    const double minutesFull = (value - degrees) * 60.0;
    const double minutes = std::floor(minutesFull);
    const double seconds = (minutesFull - minutes) * 60.0;
    out[0] = {static_cast<ExifLong>(degrees), 1};
    out[1] = {static_cast<ExifLong>(minutes), 1};
    out[2] = {static_cast<ExifLong>(std::llround(seconds * 10000.0)), 10000};
}

}  // namespace

Result<std::vector<std::uint8_t>> buildExif(const ExifTags& tags) {
    std::unique_ptr<ExifData, ExifDataDeleter> data(exif_data_new());
    if (!data)
        return makeError("out of memory");
    ExifData* d = data.get();
    exif_data_set_byte_order(d, EXIF_BYTE_ORDER_INTEL);
    exif_data_set_data_type(d, EXIF_DATA_TYPE_COMPRESSED);
    exif_data_set_option(d, EXIF_DATA_OPTION_FOLLOW_SPECIFICATION);
    exif_data_fix(d);

    if (!tags.dateTimeOriginal.empty()) {
        setAscii(d, EXIF_IFD_EXIF, EXIF_TAG_DATE_TIME_ORIGINAL, tags.dateTimeOriginal);
        if (tags.dateTimeIsUtc)
            setAscii(d, EXIF_IFD_EXIF, static_cast<ExifTag>(0x9011), "+00:00");
    }
    if (tags.position || tags.utc) {
        ExifEntry* version = addEntry(
            d, EXIF_IFD_GPS, static_cast<ExifTag>(EXIF_TAG_GPS_VERSION_ID), EXIF_FORMAT_BYTE, 4);
        const unsigned char v[4] = {2, 3, 0, 0};
        std::memcpy(version->data, v, 4);
    }
    if (tags.position) {
        const double lat = tags.position->latitude.value();
        const double lon = tags.position->longitude.value();
        ExifRational r[3];
        setAscii(d, EXIF_IFD_GPS, static_cast<ExifTag>(EXIF_TAG_GPS_LATITUDE_REF),
                 lat < 0 ? "S" : "N");
        degreesMinutesSeconds(lat, r);
        setRationals(d, EXIF_IFD_GPS, static_cast<ExifTag>(EXIF_TAG_GPS_LATITUDE), r, 3);
        setAscii(d, EXIF_IFD_GPS, static_cast<ExifTag>(EXIF_TAG_GPS_LONGITUDE_REF),
                 lon < 0 ? "W" : "E");
        degreesMinutesSeconds(lon, r);
        setRationals(d, EXIF_IFD_GPS, static_cast<ExifTag>(EXIF_TAG_GPS_LONGITUDE), r, 3);
    }
    if (tags.utc) {
        const recordings::GpsTime& t = *tags.utc;
        const ExifRational hms[3] = {
            {t.hour, 1},
            {t.minute, 1},
            {static_cast<ExifLong>(t.second * 1000 + t.millisecond), 1000}};
        setRationals(d, EXIF_IFD_GPS, static_cast<ExifTag>(EXIF_TAG_GPS_TIME_STAMP), hms, 3);
        char date[32];
        std::snprintf(date, sizeof date, "%04u:%02u:%02u", unsigned{t.year}, unsigned{t.month},
                      unsigned{t.day});
        setAscii(d, EXIF_IFD_GPS, static_cast<ExifTag>(EXIF_TAG_GPS_DATE_STAMP), date);
    }

    unsigned char* bytes = nullptr;
    unsigned int size = 0;
    exif_data_save_data(d, &bytes, &size);
    if (!bytes || size == 0)
        return makeError("cannot build the EXIF data");
    std::vector<std::uint8_t> out(bytes, bytes + size);
    std::free(bytes);
    if (out.size() > 65533)
        return makeError("the EXIF data is too large");
    return out;
}

Result<std::vector<std::uint8_t>> insertExif(const std::vector<std::uint8_t>& jpeg,
                                             const std::vector<std::uint8_t>& exif) {
    if (jpeg.size() < 4 || jpeg[0] != 0xFF || jpeg[1] != 0xD8)
        return makeError("the encoder wrote no JPEG");
    std::size_t at = 2;
    // Keep a JFIF APP0 first, as JFIF readers expect.
    if (jpeg.size() > 6 && jpeg[2] == 0xFF && jpeg[3] == 0xE0) {
        const std::size_t len = (std::size_t{jpeg[4]} << 8) | jpeg[5];
        if (4 + len <= jpeg.size())
            at = 4 + len;
    }
    std::vector<std::uint8_t> out;
    out.reserve(jpeg.size() + exif.size() + 4);
    out.insert(out.end(), jpeg.begin(), jpeg.begin() + static_cast<std::ptrdiff_t>(at));
    const std::size_t len = exif.size() + 2;
    out.push_back(0xFF);
    out.push_back(0xE1);
    out.push_back(static_cast<std::uint8_t>(len >> 8));
    out.push_back(static_cast<std::uint8_t>(len));
    out.insert(out.end(), exif.begin(), exif.end());
    out.insert(out.end(), jpeg.begin() + static_cast<std::ptrdiff_t>(at), jpeg.end());
    return out;
}

}  // namespace orvik::exporting
