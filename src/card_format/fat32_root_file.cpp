// Reading and putting one file in the root directory of an unmounted FAT32 volume: the
// configuration file is taken off a card before it is formatted and goes back onto the fresh card
// when no file-system driver mounts it for us.
// Order of writes: data clusters, FAT chains, FSInfo, and the directory entries last, so an
// interrupted run leaves at most lost clusters and never a visible half-written file.
#include <algorithm>
#include <cctype>
#include <cstring>
#include <ctime>
#include <memory>
#include <span>
#include <vector>

#include "card_format/card_format.h"
#include "platform/byte_order.h"
#include "platform/fat_boot_sector.h"

namespace orvik::card_format {
namespace {

constexpr std::size_t kDirEntry = 32;
constexpr std::uint32_t kFatMask = 0x0FFFFFFF;
constexpr std::uint32_t kEndOfChain = 0x0FFFFFF8;
constexpr std::string_view kNotFat32 = "the volume holds no FAT32 file system";

struct Volume {
    std::uint32_t bps = 0, spc = 0, reserved = 0, fats = 0, fatSize = 0, rootCluster = 0;
    std::uint32_t fsInfoSector = 0, totalSectors = 0, clusterCount = 0;
    std::uint64_t clusterBytes() const { return std::uint64_t{spc} * bps; }
    std::uint64_t clusterOffset(std::uint32_t c) const {
        return (std::uint64_t{reserved} + std::uint64_t{fats} * fatSize +
                std::uint64_t{c - 2} * spc) *
               bps;
    }
    std::uint64_t fatEntryOffset(std::uint32_t fat, std::uint32_t c) const {
        return (std::uint64_t{reserved} + std::uint64_t{fat} * fatSize) * bps +
               std::uint64_t{c} * 4;
    }
};

Result<Volume> readVolume(platform::BlockDevice& dev, std::uint32_t bps) {
    std::vector<unsigned char> b(bps);
    if (auto r = dev.readAt(0, b.data(), b.size()); !r)
        return makeError("cannot read the boot sector: " +
                         platform::systemErrorText(r.errorNumber()));
    if (b.size() < 512 || b[510] != 0x55 || b[511] != 0xAA ||
        std::string(b.begin() + 82, b.begin() + 90) != "FAT32   ")
        return makeError(std::string(kNotFat32));
    const auto boot = platform::parseFatBootSector(b);
    if (!boot || !boot->fat32 || boot->bytesPerSector != bps || boot->totalSectors > 0xFFFFFFFFu)
        return makeError("the FAT32 boot sector does not match the device");
    Volume v;
    v.bps = boot->bytesPerSector;
    v.spc = boot->sectorsPerCluster;
    v.reserved = boot->reservedSectors;
    v.fats = boot->fatCount;
    v.totalSectors = static_cast<std::uint32_t>(boot->totalSectors);
    v.fatSize = boot->fatSectors;
    v.rootCluster = boot->rootCluster;
    v.fsInfoSector = boot->fsInfoSector;
    const std::uint64_t dataStart = std::uint64_t{v.reserved} + std::uint64_t{v.fats} * v.fatSize;
    if (dataStart >= v.totalSectors)
        return makeError("the FAT32 boot sector is inconsistent");
    v.clusterCount = static_cast<std::uint32_t>((v.totalSectors - dataStart) / v.spc);
    return v;
}

Result<std::uint32_t> fatEntry(platform::BlockDevice& dev, const Volume& v, std::uint32_t c) {
    unsigned char b[4];
    if (auto r = dev.readAt(v.fatEntryOffset(0, c), b, 4); !r)
        return makeError("cannot read the FAT: " + platform::systemErrorText(r.errorNumber()));
    return platform::loadLe32(b, 0) & kFatMask;
}

// Short name for `name`: "CONFIG~1BIN" style when the name does not fit 8.3 as it stands.
struct ShortName {
    std::string bytes;  // 11 bytes
    bool needsLongName = false;
};

ShortName makeShortName(std::string_view name, int tail) {
    auto dot = name.rfind('.');
    std::string base(name.substr(0, dot)),
        ext(dot == std::string_view::npos ? "" : name.substr(dot + 1));
    auto clean = [](const std::string& s) {
        std::string out;
        for (char ch : s) {
            unsigned char c = static_cast<unsigned char>(ch);
            if (c == ' ' || c == '.')
                continue;
            out += std::isalnum(c) ||
                           std::string_view("$%'-_@~`!(){}^#&").find(ch) != std::string_view::npos
                       ? static_cast<char>(std::toupper(c))
                       : '_';
        }
        return out;
    };
    ShortName s;
    std::string b = clean(base), e = clean(ext);
    s.needsLongName = b.size() > 8 || e.size() > 3 || b != base || e != ext;
    if (s.needsLongName) {
        std::string t = "~" + std::to_string(tail);
        b = b.substr(0, 8 - t.size()) + t;
    }
    e = e.substr(0, 3);
    b.resize(8, ' ');
    e.resize(3, ' ');
    s.bytes = b + e;
    return s;
}

unsigned char shortNameChecksum(const std::string& n) {
    unsigned char sum = 0;
    for (unsigned char c : n)
        sum = static_cast<unsigned char>(((sum & 1) << 7) + (sum >> 1) + c);
    return sum;
}

void dosTime(std::uint16_t* date, std::uint16_t* time) {
    std::time_t t = std::time(nullptr);
    std::tm tm{};
    ::localtime_r(&t, &tm);
    const int year = std::clamp(tm.tm_year + 1900, 1980, 2107);
    *date = static_cast<std::uint16_t>(((year - 1980) << 9) | ((tm.tm_mon + 1) << 5) | tm.tm_mday);
    *time = static_cast<std::uint16_t>((tm.tm_hour << 11) | (tm.tm_min << 5) | (tm.tm_sec / 2));
}

// The root directory's clusters and their contents (bounded: a looping chain cannot hang us).
struct RootDirectory {
    std::vector<std::uint32_t> chain;
    std::vector<unsigned char> bytes;
};

Result<RootDirectory> readRootDirectory(platform::BlockDevice& dev, const Volume& v) {
    RootDirectory root;
    for (std::uint32_t c = v.rootCluster; c >= 2 && c < v.clusterCount + 2;) {
        // A directory holds at most 65536 entries (2 MiB); longer chains are damage.
        if (root.chain.size() > v.clusterCount || root.chain.size() * v.clusterBytes() > (2u << 20))
            return makeError("the root directory chain is damaged");
        root.chain.push_back(c);
        auto next = fatEntry(dev, v, c);
        if (!next)
            return makeError(next.error());
        if (*next >= kEndOfChain)
            break;
        c = *next;
    }
    if (root.chain.empty())
        return makeError("the root directory cluster is invalid");
    const std::size_t clusterBytes = static_cast<std::size_t>(v.clusterBytes());
    root.bytes.resize(root.chain.size() * clusterBytes);
    for (std::size_t i = 0; i < root.chain.size(); ++i) {
        if (auto r = dev.readAt(v.clusterOffset(root.chain[i]), &root.bytes[i * clusterBytes],
                                clusterBytes);
            !r)
            return makeError("cannot read the root directory: " +
                             platform::systemErrorText(r.errorNumber()));
    }
    return root;
}

std::string lowerAscii(std::string_view s) {
    std::string out(s);
    for (char& c : out)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return out;
}

// The 8.3 name of a short entry as text ("TIMESET.CFG"), with the case bits applied.
std::string shortEntryName(std::span<const unsigned char> e) {
    std::string base(reinterpret_cast<const char*>(&e[0]), 8),
        ext(reinterpret_cast<const char*>(&e[8]), 3);
    while (!base.empty() && base.back() == ' ')
        base.pop_back();
    while (!ext.empty() && ext.back() == ' ')
        ext.pop_back();
    if (!base.empty() && base[0] == 0x05)
        base[0] = static_cast<char>(0xE5);
    return ext.empty() ? base : base + "." + ext;
}

bool validPath(std::string_view name) {
    return !name.empty() && name.size() <= 255 &&
           std::none_of(name.begin(), name.end(), [](char c) {
               return static_cast<unsigned char>(c) < 0x20 ||
                      static_cast<unsigned char>(c) >= 0x80 ||
                      std::string_view("\\/:*?\"<>|").find(c) != std::string_view::npos;
           });
}

struct OpenVolume {
    std::unique_ptr<platform::BlockDevice> dev;
    Volume volume;
};

Result<OpenVolume> openVolume(const std::string& device, std::uint32_t imageSectorSize) {
    platform::BlockDeviceOptions options;
    options.imageSectorSize = imageSectorSize;
    int err = 0;
    OpenVolume ov;
    ov.dev = platform::BlockDevice::open(device, options, &err);
    if (!ov.dev)
        return makeError("cannot open " + device + ": " + platform::systemErrorText(err));
    if (auto r = ov.dev->lock(); !r)
        return makeError("cannot lock " + device + ": " +
                         platform::systemErrorText(r.errorNumber()));
    platform::DeviceGeometry geo;
    if (auto r = ov.dev->geometry(&geo); !r)
        return makeError("cannot read the geometry of " + device + ": " +
                         platform::systemErrorText(r.errorNumber()));
    auto vol = readVolume(*ov.dev, geo.bytesPerSector);
    if (!vol)
        return makeError(vol.error());
    ov.volume = *vol;
    return ov;
}

}  // namespace

Result<RootFileRead> readRootFileOnFat32(const std::string& device, std::string_view name,
                                         std::size_t maxBytes, std::uint32_t imageSectorSize) {
    if (!validPath(name))
        return makeError("'" + std::string(name) + "' is not a file name this reader handles");
    auto ov = openVolume(device, imageSectorSize);
    if (!ov) {
        if (ov.error() == kNotFat32)
            return RootFileRead{RootFileRead::Status::NotFat32, {}};
        return makeError(ov.error());
    }
    platform::BlockDevice& dev = *ov->dev;
    const Volume& v = ov->volume;
    auto root = readRootDirectory(dev, v);
    if (!root)
        return makeError(root.error());

    // Find the entry: its long name, or its 8.3 name, compared without regard to case.
    const std::string wanted = lowerAscii(name);
    const std::vector<unsigned char>& dir = root->bytes;
    std::string longName;
    std::span<const unsigned char> found;
    for (std::size_t i = 0; i + kDirEntry <= dir.size(); i += kDirEntry) {
        const auto e = std::span(dir).subspan(i, kDirEntry);
        if (e[0] == 0x00)
            break;
        if (e[0] == 0xE5) {
            longName.clear();
            continue;
        }
        if (e[11] == 0x0F) {
            // Pieces come last piece first; each holds 13 UTF-16 units.
            std::string piece;
            static constexpr int kPos[13] = {1, 3, 5, 7, 9, 14, 16, 18, 20, 22, 24, 28, 30};
            for (int pos : kPos) {
                const std::uint32_t ch = platform::loadLe16(e, pos);
                if (ch == 0x0000 || ch == 0xFFFF)
                    break;
                piece += ch < 0x80 ? static_cast<char>(ch) : '\x7F';  // never equals a wanted name
            }
            if (e[0] & 0x40)
                longName = piece;
            else
                longName.insert(0, piece);
            continue;
        }
        const bool isFile = (e[11] & 0x18) == 0;  // neither a folder nor the volume label
        if (isFile && (lowerAscii(longName) == wanted || lowerAscii(shortEntryName(e)) == wanted)) {
            found = e;
            break;
        }
        longName.clear();
    }
    if (found.empty())
        return RootFileRead{RootFileRead::Status::Absent, {}};

    const std::uint32_t size = platform::loadLe32(found, 28);
    if (size > maxBytes)
        return makeError(std::string(name) + " is " + std::to_string(size) +
                         " bytes, more than the " + std::to_string(maxBytes) + " expected");
    RootFileRead r{RootFileRead::Status::Found, std::string(size, '\0')};
    const std::size_t clusterBytes = static_cast<std::size_t>(v.clusterBytes());
    std::uint32_t c = (platform::loadLe16(found, 20) << 16) | platform::loadLe16(found, 26);
    std::vector<unsigned char> buf(clusterBytes);
    for (std::size_t off = 0; off < size; off += clusterBytes) {
        if (c < 2 || c >= v.clusterCount + 2)
            return makeError("the cluster chain of " + std::string(name) + " is damaged");
        if (auto r = dev.readAt(v.clusterOffset(c), buf.data(), buf.size()); !r)
            return makeError("cannot read " + std::string(name) + ": " +
                             platform::systemErrorText(r.errorNumber()));
        std::copy_n(buf.begin(), std::min<std::size_t>(clusterBytes, size - off), &r.data[off]);
        if (off + clusterBytes < size) {
            auto next = fatEntry(dev, v, c);
            if (!next)
                return makeError(next.error());
            c = *next;
        }
    }
    return r;
}

Result<void> writeRootFileOnFat32(const std::string& device, std::string_view name,
                                  const std::string& data, std::uint32_t imageSectorSize) {
    if (!validPath(name))
        return makeError("'" + std::string(name) + "' is not a file name this writer handles");
    auto ov = openVolume(device, imageSectorSize);
    if (!ov)
        return makeError(ov.error());
    platform::BlockDevice* dev = ov->dev.get();
    const Volume& v = ov->volume;
    auto root = readRootDirectory(*dev, v);
    if (!root)
        return makeError(root.error());
    const std::vector<std::uint32_t>& rootChain = root->chain;
    const std::vector<unsigned char>& dir = root->bytes;
    const std::size_t clusterBytes = static_cast<std::size_t>(v.clusterBytes());
    const std::size_t slots = dir.size() / kDirEntry;

    // A free short name, and the refusal to shadow a file of the same long name.
    ShortName sn;
    for (int tail = 1; tail < 100; ++tail) {
        sn = makeShortName(name, tail);
        bool taken = false;
        for (std::size_t i = 0; i < slots; ++i) {
            const unsigned char* e = &dir[i * kDirEntry];
            if (e[0] == 0x00)
                break;
            if (e[0] == 0xE5 || e[11] == 0x0F)
                continue;
            if (std::equal(sn.bytes.begin(), sn.bytes.end(), e))
                taken = true;
        }
        if (!taken)
            break;
        if (!sn.needsLongName)
            return makeError(std::string(name) + " already exists on the card");
    }

    const std::size_t lfnCount = sn.needsLongName ? (name.size() + 12) / 13 : 0;
    const std::size_t need = lfnCount + 1;
    std::size_t first = slots;
    for (std::size_t i = 0, run = 0; i < slots; ++i) {
        const unsigned char c = dir[i * kDirEntry];
        run = (c == 0x00 || c == 0xE5) ? run + 1 : 0;
        if (run == need) {
            first = i + 1 - need;
            break;
        }
    }
    if (first == slots)
        return makeError("the card's root directory is full");

    // Data clusters.
    const std::uint32_t clustersNeeded =
        static_cast<std::uint32_t>((data.size() + clusterBytes - 1) / clusterBytes);
    std::vector<std::uint32_t> chain;
    {
        // The FAT is scanned in 64 KiB pieces: a nearly full card must not take one read per entry.
        constexpr std::uint32_t kPerRead = 16384;
        std::vector<unsigned char> fatBuf(kPerRead * 4);
        const std::uint32_t end = v.clusterCount + 2;
        for (std::uint32_t base = 2; base < end && chain.size() < clustersNeeded;
             base += kPerRead) {
            const std::uint32_t n = std::min(kPerRead, end - base);
            if (auto r = dev->readAt(v.fatEntryOffset(0, base), fatBuf.data(), std::size_t{n} * 4);
                !r)
                return makeError("cannot read the FAT: " +
                                 platform::systemErrorText(r.errorNumber()));
            for (std::uint32_t i = 0; i < n && chain.size() < clustersNeeded; ++i) {
                if ((platform::loadLe32(fatBuf, std::size_t{i} * 4) & kFatMask) == 0)
                    chain.push_back(base + i);
            }
        }
    }
    if (chain.size() < clustersNeeded)
        return makeError("the card is full");
    std::vector<unsigned char> buf(clusterBytes);
    for (std::size_t i = 0; i < chain.size(); ++i) {
        std::fill(buf.begin(), buf.end(), 0);
        const std::size_t off = i * clusterBytes;
        std::copy_n(data.begin() + static_cast<std::ptrdiff_t>(off),
                    std::min(clusterBytes, data.size() - off), buf.begin());
        if (auto r = dev->writeAt(v.clusterOffset(chain[i]), buf.data(), buf.size()); !r)
            return makeError("cannot write " + device + ": " +
                             platform::systemErrorText(r.errorNumber()));
    }
    for (std::uint32_t fat = 0; fat < v.fats; ++fat) {
        for (std::size_t i = 0; i < chain.size(); ++i) {
            unsigned char b[4];
            platform::storeLe32(b, 0, i + 1 < chain.size() ? chain[i + 1] : 0x0FFFFFFF);
            if (auto r = dev->writeAt(v.fatEntryOffset(fat, chain[i]), b, 4); !r)
                return makeError("cannot write the FAT: " +
                                 platform::systemErrorText(r.errorNumber()));
        }
    }
    if (!chain.empty() && v.fsInfoSector != 0 && v.fsInfoSector != 0xFFFF) {
        std::vector<unsigned char> fsi(v.bps);
        const std::uint64_t at = std::uint64_t{v.fsInfoSector} * v.bps;
        if (dev->readAt(at, fsi.data(), fsi.size()) && platform::loadLe32(fsi, 0) == 0x41615252 &&
            platform::loadLe32(fsi, 484) == 0x61417272) {
            std::uint32_t freeCount = platform::loadLe32(fsi, 488);
            if (freeCount != 0xFFFFFFFF && freeCount >= chain.size())
                platform::storeLe32(fsi, 488, freeCount - static_cast<std::uint32_t>(chain.size()));
            platform::storeLe32(fsi, 492, chain.back() + 1);
            if (auto r = dev->writeAt(at, fsi.data(), fsi.size()); !r)
                return makeError("cannot write the FSInfo sector: " +
                                 platform::systemErrorText(r.errorNumber()));
        }
    }

    // Directory entries: long-name pieces (last piece first), then the short entry.
    std::vector<unsigned char> entries(need * kDirEntry, 0);
    const unsigned char sum = shortNameChecksum(sn.bytes);
    for (std::size_t k = 0; k < lfnCount; ++k) {
        const std::size_t piece = lfnCount - 1 - k;  // entry k holds piece number lfnCount-k
        const auto e = std::span(entries).subspan(k * kDirEntry, kDirEntry);
        e[0] = static_cast<unsigned char>((piece + 1) | (k == 0 ? 0x40 : 0));
        e[11] = 0x0F;
        e[13] = sum;
        static constexpr int kPos[13] = {1, 3, 5, 7, 9, 14, 16, 18, 20, 22, 24, 28, 30};
        for (int j = 0; j < 13; ++j) {
            const std::size_t ci = piece * 13 + static_cast<std::size_t>(j);
            std::uint32_t ch = ci < name.size()    ? static_cast<unsigned char>(name[ci])
                               : ci == name.size() ? 0x0000
                                                   : 0xFFFF;
            platform::storeLe16(e, kPos[j], ch);
        }
    }
    const auto s = std::span(entries).subspan(lfnCount * kDirEntry, kDirEntry);
    std::copy(sn.bytes.begin(), sn.bytes.end(), s.begin());
    s[11] = 0x20;  // archive
    std::uint16_t date = 0, time = 0;
    dosTime(&date, &time);
    platform::storeLe16(s, 14, time);
    platform::storeLe16(s, 16, date);
    platform::storeLe16(s, 18, date);
    const std::uint32_t firstCluster = chain.empty() ? 0 : chain.front();
    platform::storeLe16(s, 20, firstCluster >> 16);
    platform::storeLe16(s, 22, time);
    platform::storeLe16(s, 24, date);
    platform::storeLe16(s, 26, firstCluster & 0xFFFF);
    platform::storeLe32(s, 28, static_cast<std::uint32_t>(data.size()));
    for (std::size_t k = 0; k < need; ++k) {
        const std::size_t slot = first + k;
        const std::size_t cl = slot * kDirEntry / clusterBytes;
        const std::size_t within = slot * kDirEntry % clusterBytes;
        if (auto r = dev->writeAt(v.clusterOffset(rootChain[cl]) + within, &entries[k * kDirEntry],
                                  kDirEntry);
            !r)
            return makeError("cannot write the root directory: " +
                             platform::systemErrorText(r.errorNumber()));
    }
    if (auto r = dev->flush(); !r)
        return makeError("cannot flush " + device + ": " +
                         platform::systemErrorText(r.errorNumber()));
    return {};
}

}  // namespace orvik::card_format
