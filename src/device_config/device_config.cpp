#include "device_config/device_config.h"

#include <sys/stat.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>

#include "device_config/opened_card.h"
#include "platform/readable_file.h"

namespace orvik::device_config {
namespace fs = std::filesystem;

DeviceConfig::DeviceConfig() {
    resetToDefaults();
}

void DeviceConfig::resetToDefaults() {
    bytes_.fill(0);
    setU16(0, kMagic);
#define ORVIK_DC_DEFAULT(name, Name, offset, def) setWordAt(offset, def);
    ORVIK_DEVICE_CONFIG_FIELDS(ORVIK_DC_DEFAULT)
#undef ORVIK_DC_DEFAULT
}

std::uint16_t DeviceConfig::u16(std::size_t offset) const {
    return static_cast<std::uint16_t>(bytes_[offset] | bytes_[offset + 1] << 8);
}

void DeviceConfig::setU16(std::size_t offset, std::uint16_t value) {
    bytes_[offset] = static_cast<std::uint8_t>(value & 0xFF);
    bytes_[offset + 1] = static_cast<std::uint8_t>(value >> 8);
}

std::uint32_t DeviceConfig::wordAt(std::size_t offset) const {
    if (offset % 4 != 0 || offset + 4 > kImageSize)
        return 0;
    return static_cast<std::uint32_t>(bytes_[offset]) |
           static_cast<std::uint32_t>(bytes_[offset + 1]) << 8 |
           static_cast<std::uint32_t>(bytes_[offset + 2]) << 16 |
           static_cast<std::uint32_t>(bytes_[offset + 3]) << 24;
}

void DeviceConfig::setWordAt(std::size_t offset, std::uint32_t value) {
    if (offset % 4 != 0 || offset + 4 > kImageSize)
        return;
    for (int i = 0; i < 4; ++i)
        bytes_[offset + i] = static_cast<std::uint8_t>(value >> (8 * i));
}

std::uint16_t DeviceConfig::computeChecksum() const {
    std::uint16_t sum = 0;
    for (std::size_t i = 1; i < kWordCount; ++i)
        sum ^= static_cast<std::uint16_t>(wordAt(i * 4));
    return sum;
}

void DeviceConfig::finalize() {
    setU16(0, kMagic);
    setU16(2, computeChecksum());
}

DeviceConfig::Bytes DeviceConfig::finalizedBytes() const {
    DeviceConfig copy = *this;
    copy.finalize();
    return copy.bytes_;
}

Result<void> DeviceConfig::assign(std::span<const std::uint8_t> bytes) {
    if (bytes.size() != kImageSize)
        return makeError("a configuration file has exactly 624 bytes, this one has " +
                         std::to_string(bytes.size()));
    if (bytes[0] != (kMagic & 0xFF) || bytes[1] != (kMagic >> 8))
        return makeError("not a configuration file (it does not begin with 08 15)");
    std::memcpy(bytes_.data(), bytes.data(), kImageSize);
    return {};
}

Result<DeviceConfig> readConfigFile(const std::string& path) {
    // Anything beyond one byte too many is enough to refuse the file.
    auto data = platform::readFileLimited(path, kImageSize + 1);
    if (!data) {
        std::string msg = data.error();
        if (msg.find("too large") != std::string::npos)
            msg = path + ": a configuration file has exactly 624 bytes, this one is larger";
        return makeError(msg);
    }
    DeviceConfig config;
    auto r =
        config.assign(std::span(reinterpret_cast<const std::uint8_t*>(data->data()), data->size()));
    if (!r)
        return makeError(path + ": " + r.error());
    return config;
}

SaveOutcome writeConfigFile(const std::string& path, const DeviceConfig& config) {
    const auto bytes = config.finalizedBytes();
    return saveAtomically(path, std::span<const std::uint8_t>(bytes));
}

std::optional<LocatedConfig> findConfigOnCard(const std::vector<platform::Volume>& volumes) {
    for (const auto& v : volumes) {
        std::string path = (fs::path(v.mountPoint) / kConfigFileName).string();
        struct stat st {};
        // Only a regular file of exactly the image size counts; others are passed over.
        if (::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode) &&
            static_cast<std::uint64_t>(st.st_size) == kImageSize)
            return LocatedConfig{v, path};
    }
    return std::nullopt;
}

std::optional<std::string> chooseSaveTarget(const std::vector<platform::Volume>& volumes,
                                            const AskPathFunction& askPath) {
    if (volumes.size() == 1)
        return (fs::path(volumes[0].mountPoint) / kConfigFileName).string();
    for (const auto& v : volumes) {
        if (v.label == platform::kCameraLabel)
            return (fs::path(v.mountPoint) / kConfigFileName).string();
    }
    if (!askPath)
        return std::nullopt;
    auto answer = askPath();
    if (answer && answer->empty())
        return std::nullopt;
    return answer;
}

bool ConfigSession::locateOnCard(bool readFile, const LineSink& labelReport) {
    return locateOnCard(readFile, cardVolumes(), labelReport);
}

bool ConfigSession::locateOnCard(bool readFile, const std::vector<platform::Volume>& volumes,
                                 const LineSink& labelReport,
                                 const platform::ChangeOptions& labelOptions) {
    rememberedPath_.clear();
    auto found = findConfigOnCard(volumes);
    if (!found)
        return false;
    if (!found->volume.openedFolder && found->volume.label != platform::kCameraLabel) {
        if (auto r = platform::relabelVolume(found->volume, platform::kCameraLabel, labelOptions);
            !r) {
            std::string line = "Could not label volume!: " + r.error() + "\n";
            if (labelReport) {
                labelReport(line);
            } else {
                std::fputs(line.c_str(), stdout);
                std::fflush(stdout);
            }
        }
    }
    if (!readFile)
        return false;
    rememberedPath_ = found->path;
    if (!read()) {
        rememberedPath_.clear();
        return false;
    }
    return true;
}

Result<void> ConfigSession::read() {
    if (rememberedPath_.empty())
        return makeError("no configuration file is known");
    auto loaded = readConfigFile(rememberedPath_);
    if (!loaded)
        return makeError(loaded.error());
    image_ = *loaded;
    return {};
}

SaveOutcome ConfigSession::write(const AskPathFunction& askPath) {
    if (!rememberedPath_.empty())
        return write(askPath, {});
    return write(askPath, platform::removableVolumes());
}

SaveOutcome ConfigSession::write(const AskPathFunction& askPath,
                                 const std::vector<platform::Volume>& volumes) {
    image_.finalize();
    std::optional<std::string> target;
    if (!rememberedPath_.empty()) {
        target = rememberedPath_;
    } else {
        target = chooseSaveTarget(volumes, askPath);
    }
    if (!target) {
        SaveOutcome out;
        out.status = SaveStatus::Cancelled;
        return out;
    }
    return writeConfigFile(*target, image_);
}

}  // namespace orvik::device_config
