#include "device_config/drive_route.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <filesystem>

#include "platform/byte_order.h"
#include "platform/readable_file.h"

namespace orvik::device_config {
namespace {

using platform::loadLe16;
using platform::loadLe32;
using platform::storeLe16;
using platform::storeLe32;
std::int16_t loadLeI16(std::span<const std::uint8_t> p, std::size_t at) {
    return static_cast<std::int16_t>(loadLe16(p, at));
}

template <typename... A>
std::string fmt(const char* f, A... a) {
    char buf[64];
    std::snprintf(buf, sizeof buf, f, a...);
    return buf;
}

// printf's "%0*u" / "%*u" without the format parsing: this runs 28 times per record.
void appendPadded(std::string& out, unsigned v, int width, char pad) {
    char digits[12];
    int n = 0;
    do {
        digits[n++] = static_cast<char>('0' + v % 10);
        v /= 10;
    } while (v);
    for (int i = n; i < width; ++i)
        out.push_back(pad);
    while (n)
        out.push_back(digits[--n]);
}

std::string joined3(unsigned a, int wa, char sep1, unsigned b, char sep2, unsigned c) {
    std::string s;
    appendPadded(s, a, wa, '0');
    s.push_back(sep1);
    appendPadded(s, b, 2, '0');
    s.push_back(sep2);
    appendPadded(s, c, 2, '0');
    return s;
}

std::string fixedPoint(unsigned whole, int wholeWidth, char pad, unsigned frac, int fracWidth) {
    std::string s;
    appendPadded(s, whole, wholeWidth, pad);
    s.push_back('.');
    appendPadded(s, frac, fracWidth, '0');
    return s;
}

// "%+.2f" of v / 256: v / 256 is exact in binary, so printf's rounding is round-half-even on
// the exact quotient, which integer arithmetic reproduces.
std::string signedSixtyFourths(std::int16_t v) {
    unsigned n = static_cast<unsigned>(v < 0 ? -static_cast<int>(v) : v) * 25u;  // hundredths × 64
    unsigned q = n / 64, rem = n % 64;
    if (rem > 32 || (rem == 32 && (q & 1)))
        ++q;
    std::string s(1, v < 0 ? '-' : '+');
    appendPadded(s, q / 100, 1, '0');
    s.push_back('.');
    appendPadded(s, q % 100, 2, '0');
    return s;
}

std::string onOff(std::int16_t v) {
    return v == 1 ? "ON" : v == 0 ? "OFF" : "-";
}
std::string tenths(std::uint16_t v) {
    return fixedPoint(v / 10u, 2, ' ', v % 10u, 1);
}

constexpr DriveRouteColumn kColumns[kDrvColumnCount] = {
    {315, "No.", 38},
    {316, "Order", 38},
    {317, "Date", 78},
    {318, "Time", 64},
    {319, "Day of the week", 40},
    {320, "Latitude", 72},
    {321, "Longitude", 80},
    {243, "Value", 40},
    {314, "GPS Speed", 62},
    {322, "Vehicle Speed", 62},
    {236, "Mileage", 60},
    {323, "RPM", 52},
    {324, "V. Mileage", 62},
    {326, "Accelerator pedal", 38},
    {327, "Foot brake", 62},
    {328, "Right turn signal", 74},
    {329, "Left turn signal", 62},
    {330, "Steering wheel turning angle", 60},
    {332, "Gear level", 48},
    {333, "Gear position", 62},
    {335, "Throttle position absolute", 60},
    {337, "X", 48},
    {338, "Y", 48},
    {339, "Z", 48},
    {325, "Battery", 48},
    {384, "ADC", 48},
    {363, "TTC", 48},
    {364, "DTC", 48},
};

}  // namespace

DriveRouteRecord decodeDriveRouteRecord(std::span<const std::uint8_t, kDrvRecordSize> bytes) {
    const std::span<const std::uint8_t> p = bytes;
    DriveRouteRecord r;
    r.order = loadLe16(p, 0);
    r.dayOfWeek = p[2];
    r.kind = p[3];
    r.year = p[4];
    r.month = p[5];
    r.day = p[6];
    r.hour = p[7];
    r.minute = p[8];
    r.second = p[9];
    r.latitudeInt = loadLe16(p, 10);
    r.latitudeFrac = loadLe16(p, 12);
    r.longitudeInt = loadLe16(p, 14);
    r.longitudeFrac = loadLe16(p, 16);
    r.gpsSpeed = loadLe16(p, 18);
    r.mileage = loadLe32(p, 20);
    r.latHemisphere = p[28];
    r.lonHemisphere = p[29];
    r.vehicleSpeed = loadLeI16(p, 32);
    r.rpm = loadLeI16(p, 34);
    r.vehicleMileage = static_cast<std::int32_t>(loadLe32(p, 36));
    r.battery = loadLeI16(p, 40);
    r.acceleratorPedal = loadLeI16(p, 42);
    r.footBrake = loadLeI16(p, 44);
    r.rightTurnSignal = loadLeI16(p, 46);
    r.leftTurnSignal = loadLeI16(p, 48);
    r.steeringAngle = loadLeI16(p, 50);
    r.gearLevel = loadLeI16(p, 52);
    r.gearPosition = loadLeI16(p, 54);
    r.throttlePosition = loadLeI16(p, 56);
    r.accelX = loadLeI16(p, 58);
    r.accelY = loadLeI16(p, 60);
    r.accelZ = loadLeI16(p, 62);
    r.adc = loadLe16(p, 64);
    r.ttc = loadLe16(p, 66);
    r.dtc = loadLe16(p, 68);
    return r;
}

std::array<std::uint8_t, kDrvRecordSize> encodeDriveRouteRecord(const DriveRouteRecord& r) {
    std::array<std::uint8_t, kDrvRecordSize> b{};
    const std::span<std::uint8_t> p = b;
    storeLe16(p, 0, r.order);
    p[2] = r.dayOfWeek;
    p[3] = r.kind;
    p[4] = r.year;
    p[5] = r.month;
    p[6] = r.day;
    p[7] = r.hour;
    p[8] = r.minute;
    p[9] = r.second;
    storeLe16(p, 10, r.latitudeInt);
    storeLe16(p, 12, r.latitudeFrac);
    storeLe16(p, 14, r.longitudeInt);
    storeLe16(p, 16, r.longitudeFrac);
    storeLe16(p, 18, r.gpsSpeed);
    storeLe32(p, 20, r.mileage);
    p[28] = r.latHemisphere;
    p[29] = r.lonHemisphere;
    auto s16 = [&](std::size_t off, std::int16_t v) {
        storeLe16(p, off, static_cast<std::uint16_t>(v));
    };
    s16(32, r.vehicleSpeed);
    s16(34, r.rpm);
    storeLe32(p, 36, static_cast<std::uint32_t>(r.vehicleMileage));
    s16(40, r.battery);
    s16(42, r.acceleratorPedal);
    s16(44, r.footBrake);
    s16(46, r.rightTurnSignal);
    s16(48, r.leftTurnSignal);
    s16(50, r.steeringAngle);
    s16(52, r.gearLevel);
    s16(54, r.gearPosition);
    s16(56, r.throttlePosition);
    s16(58, r.accelX);
    s16(60, r.accelY);
    s16(62, r.accelZ);
    storeLe16(p, 64, r.adc);
    storeLe16(p, 66, r.ttc);
    storeLe16(p, 68, r.dtc);
    return b;
}

Result<DriveRouteFile> decodeDriveRoute(std::span<const std::uint8_t> bytes) {
    if (bytes.size() < kDrvHeaderSize)
        return makeError("not a driving-route file: " + std::to_string(bytes.size()) +
                         " bytes, shorter than its 12-byte header");
    DriveRouteFile file;
    file.headerCount = loadLe32(bytes, 0);
    // The count may promise more than the file holds; only complete records count.
    std::size_t present = (bytes.size() - kDrvHeaderSize) / kDrvRecordSize;
    std::size_t n = std::min<std::size_t>(file.headerCount, present);
    file.records.reserve(n);
    for (std::size_t i = 0; i < n; ++i) {
        auto rec = bytes.subspan(kDrvHeaderSize + i * kDrvRecordSize).first<kDrvRecordSize>();
        file.records.push_back(decodeDriveRouteRecord(rec));
    }
    return file;
}

Result<DriveRouteFile> readDriveRouteFile(const std::string& path) {
    auto opened = platform::ReadableFile::open(path);
    if (!opened)
        return makeError(opened.error());
    const int fd = opened->fd();
    std::uint8_t header[kDrvHeaderSize];
    ssize_t got = ::pread(fd, header, sizeof header, 0);
    if (got != static_cast<ssize_t>(sizeof header)) {
        return makeError("not a driving-route file: " + path +
                         " is shorter than its 12-byte header");
    }
    std::uint64_t count = loadLe32(header, 0);
    std::uint64_t present = (opened->size() - kDrvHeaderSize) / kDrvRecordSize;
    std::uint64_t n = std::min(count, present);
    // Read only the records the header names and the file holds, however large it is.
    std::vector<std::uint8_t> bytes(kDrvHeaderSize + n * kDrvRecordSize);
    std::memcpy(bytes.data(), header, kDrvHeaderSize);
    std::size_t done = kDrvHeaderSize;
    while (done < bytes.size()) {
        ssize_t r = ::pread(fd, bytes.data() + done, bytes.size() - done, static_cast<off_t>(done));
        if (r < 0 && errno == EINTR)
            continue;
        if (r <= 0)
            break;  // shrank while we read: keep what is complete
        done += static_cast<std::size_t>(r);
    }
    bytes.resize(done);
    auto file = decodeDriveRoute(bytes);
    if (file)
        file->headerCount = static_cast<std::uint32_t>(count);
    return file;
}

std::vector<std::uint8_t> encodeDriveRoute(std::span<const DriveRouteRecord> records) {
    std::vector<std::uint8_t> out(kDrvHeaderSize + records.size() * kDrvRecordSize);
    storeLe32(out, 0, static_cast<std::uint32_t>(records.size()));
    for (std::size_t i = 0; i < records.size(); ++i) {
        auto b = encodeDriveRouteRecord(records[i]);
        std::memcpy(out.data() + kDrvHeaderSize + i * kDrvRecordSize, b.data(), b.size());
    }
    return out;
}

SaveOutcome writeDriveRouteFile(const std::string& path,
                                std::span<const DriveRouteRecord> records) {
    const auto bytes = encodeDriveRoute(records);
    return saveAtomically(path, std::span<const std::uint8_t>(bytes));
}

std::optional<std::string> findDriveRouteOnCard(const std::vector<platform::Volume>& volumes) {
    for (const auto& v : volumes) {
        auto path = std::filesystem::path(v.mountPoint) / kDrvFolder / kDrvFileName;
        std::error_code ec;
        if (std::filesystem::is_regular_file(path, ec))
            return path.string();
    }
    return std::nullopt;
}

std::span<const DriveRouteColumn, kDrvColumnCount> driveRouteColumns() {
    return std::span<const DriveRouteColumn, kDrvColumnCount>(kColumns);
}

DriveRouteRow formatDriveRouteRow(const DriveRouteRecord& r, std::size_t rowIndex) {
    static constexpr const char* kDays[] = {"SUN", "MON", "TUE", "WED", "THU", "FRI", "SAT"};
    DriveRouteRow c;
    c[0] = std::to_string(rowIndex + 1);
    c[1] = std::to_string(r.order);
    c[2] = joined3(r.year + 1900u, 4, '/', r.month, '/', r.day);
    c[3] = joined3(r.hour, 2, ':', r.minute, ':', r.second);
    c[4] = r.dayOfWeek <= 6 ? kDays[r.dayOfWeek] : "-";
    c[5] = fixedPoint(r.latitudeInt, 4, '0', r.latitudeFrac, 4);
    c[6] = fixedPoint(r.longitudeInt, 5, '0', r.longitudeFrac, 4);
    c[7] = r.kind == 1 ? "A" : r.kind == 2 ? "F" : "V";
    c[8] = std::to_string(r.gpsSpeed);
    c[9] = r.vehicleSpeed < 0 ? "-" : std::to_string(r.vehicleSpeed);
    c[10] = fixedPoint(r.mileage / 100u, 1, '0', r.mileage % 100u, 2);  // exact: "%.2f" of v/100
    c[11] = r.rpm == -2 ? "EV" : r.rpm < 0 ? "-" : std::to_string(r.rpm);
    c[12] = r.vehicleMileage < 0 ? "-" : fmt("%7.1f", r.vehicleMileage / 1000.0);
    c[13] = r.acceleratorPedal < 0 ? "-" : std::to_string(r.acceleratorPedal);
    c[14] = onOff(r.footBrake);
    c[15] = onOff(r.rightTurnSignal);
    c[16] = onOff(r.leftTurnSignal);
    c[17] = r.steeringAngle == 9999 ? "-" : std::to_string(r.steeringAngle);
    c[18] = r.gearLevel < 1 ? "-" : std::to_string(r.gearLevel);
    switch (r.gearPosition) {
        case 1:
            c[19] = "P";
            break;
        case 2:
            c[19] = "R";
            break;
        case 3:
            c[19] = "N";
            break;
        case 4:
            c[19] = "D";
            break;
        default:
            c[19] = r.gearPosition > 0 ? std::to_string(r.gearPosition) : "-";
    }
    c[20] = r.throttlePosition < 0 ? "-" : std::to_string(r.throttlePosition);
    c[21] = signedSixtyFourths(r.accelX);
    c[22] = signedSixtyFourths(r.accelY);
    c[23] = signedSixtyFourths(r.accelZ);
    c[24] = r.battery < 0 ? "-" : fmt("%2.1f", r.battery / 1000.0);
    c[25] = tenths(r.adc);
    c[26] = tenths(r.ttc);
    c[27] = tenths(r.dtc);
    return c;
}

std::vector<DriveRouteRow> buildDriveRouteTable(std::span<const DriveRouteRecord> records) {
    std::vector<DriveRouteRow> rows;
    rows.reserve(records.size());
    for (std::size_t i = 0; i < records.size(); ++i)
        rows.push_back(formatDriveRouteRow(records[i], i));
    return rows;
}

RoutePosition routePosition(const DriveRouteRecord& r) {
    RoutePosition p;
    p.latitude = r.latitudeInt + r.latitudeFrac / 10000.0;
    p.longitude = r.longitudeInt + r.longitudeFrac / 10000.0;
    if (r.latHemisphere == 'S')
        p.latitude = -p.latitude;
    if (r.lonHemisphere == 'W')
        p.longitude = -p.longitude;
    return p;
}

std::string driveRouteCsv(std::span<const DriveRouteRow> rows,
                          std::span<const std::string> headers) {
    std::string out = "\xEF\xBB\xBF";
    for (std::size_t i = 0; i < kDrvColumnCount; ++i) {
        if (i)
            out += ',';
        if (i < headers.size()) {
            out += headers[i];
        } else {
            out += kColumns[i].englishHeader;
        }
    }
    out += '\n';
    out.reserve(out.size() + rows.size() * 200);
    for (const auto& row : rows) {
        for (std::size_t i = 0; i < kDrvColumnCount; ++i) {
            if (i)
                out += ',';
            out += row[i];
        }
        out += '\n';
    }
    return out;
}

SaveOutcome exportDriveRouteCsv(const std::string& path, std::span<const DriveRouteRow> rows,
                                std::span<const std::string> headers) {
    SaveOutcome out;
    out.path = path;
    if (rows.empty()) {
        out.status = SaveStatus::Cancelled;
        return out;
    }
    return saveAtomically(path, driveRouteCsv(rows, headers));
}

std::vector<DriveRouteRecord> makeSampleRoute(std::size_t count, int year, int month, int day,
                                              int hour, int minute, int second) {
    // A drive north-east out of Seoul's centre: one record a second, gentle speed changes.
    std::vector<DriveRouteRecord> out;
    out.reserve(count);
    double lat = 37.5665, lon = 126.9780;  // decimal degrees
    double speedKmh = 0, odometerM = 18'250'000, tripHundredths = 0;
    std::tm tm{};
    tm.tm_year = year - 1900;
    tm.tm_mon = month - 1;
    tm.tm_mday = day;
    tm.tm_hour = hour;
    tm.tm_min = minute;
    tm.tm_sec = second;
    std::time_t t0 = timegm(&tm);
    for (std::size_t i = 0; i < count; ++i) {
        std::time_t t = t0 + static_cast<std::time_t>(i);
        std::tm now{};
        gmtime_r(&t, &now);
        double target = 40 + 25 * std::sin(static_cast<double>(i) / 40.0);
        double prev = speedKmh;
        speedKmh += (target - speedKmh) * 0.2;
        double metres = speedKmh / 3.6;
        lat += metres * 0.7 / 111'320.0;
        lon += metres * 0.7 / (111'320.0 * std::cos(lat * M_PI / 180.0));
        odometerM += metres;
        tripHundredths += metres / 10.0;  // hundredths of a kilometre

        DriveRouteRecord r;
        r.order = static_cast<std::uint16_t>(i + 1);
        r.dayOfWeek = static_cast<std::uint8_t>(now.tm_wday);
        r.kind = i % 60 == 59 ? 2 : 1;
        r.year = static_cast<std::uint8_t>(now.tm_year);
        r.month = static_cast<std::uint8_t>(now.tm_mon + 1);
        r.day = static_cast<std::uint8_t>(now.tm_mday);
        r.hour = static_cast<std::uint8_t>(now.tm_hour);
        r.minute = static_cast<std::uint8_t>(now.tm_min);
        r.second = static_cast<std::uint8_t>(now.tm_sec);
        auto nmea = [](double deg, std::uint16_t& whole, std::uint16_t& frac) {
            double a = std::fabs(deg);
            int d = static_cast<int>(a);
            double minutes = (a - d) * 60.0;
            int mm = static_cast<int>(minutes);
            whole = static_cast<std::uint16_t>(d * 100 + mm);
            frac = static_cast<std::uint16_t>(std::lround((minutes - mm) * 10000) % 10000);
        };
        nmea(lat, r.latitudeInt, r.latitudeFrac);
        nmea(lon, r.longitudeInt, r.longitudeFrac);
        r.latHemisphere = 'N';
        r.lonHemisphere = 'E';
        r.gpsSpeed = static_cast<std::uint16_t>(std::lround(speedKmh));
        r.mileage = static_cast<std::uint32_t>(tripHundredths);
        r.vehicleSpeed = static_cast<std::int16_t>(std::lround(speedKmh));
        r.rpm = static_cast<std::int16_t>(800 + std::lround(speedKmh * 32));
        r.vehicleMileage = static_cast<std::int32_t>(odometerM);
        r.battery = static_cast<std::int16_t>(13800 + (i % 7) * 10);
        r.acceleratorPedal = static_cast<std::int16_t>(speedKmh > prev ? 18 + (i % 5) : 0);
        r.footBrake = speedKmh < prev - 0.5 ? 1 : 0;
        r.rightTurnSignal = i % 90 < 3 ? 1 : 0;
        r.leftTurnSignal = (i + 65) % 130 < 3 ? 1 : 0;
        r.steeringAngle =
            static_cast<std::int16_t>(std::lround(15 * std::sin(static_cast<double>(i) / 9.0)));
        r.gearLevel = static_cast<std::int16_t>(std::min(6, 1 + static_cast<int>(speedKmh / 18)));
        r.gearPosition = 4;
        r.throttlePosition = static_cast<std::int16_t>(14 + (speedKmh > prev ? 6 : 0));
        r.accelX = static_cast<std::int16_t>(std::lround((speedKmh - prev) / 3.6 / 9.81 * 256));
        r.accelY =
            static_cast<std::int16_t>(std::lround(std::sin(static_cast<double>(i) / 9.0) * 20));
        r.accelZ = 256;
        r.adc = static_cast<std::uint16_t>(120 + i % 9);
        r.ttc = static_cast<std::uint16_t>(speedKmh > 10 ? 35 + i % 20 : 0);
        r.dtc = static_cast<std::uint16_t>(speedKmh > 10 ? 180 + i % 40 : 0);
        out.push_back(r);
    }
    return out;
}

}  // namespace orvik::device_config
