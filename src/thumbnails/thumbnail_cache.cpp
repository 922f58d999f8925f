#include <cmath>
#include <system_error>

#include "platform/commit_writer.h"
#include "platform/readable_file.h"
#include "platform/sha256.h"
#include "thumbnails/thumbnail.h"

namespace orvik::thumbnails {

namespace fs = std::filesystem;

fs::path ThumbnailCache::fileFor(const std::string& path, double seconds, int width) const {
    const auto stamp = platform::stampOf(path);
    if (!stamp || folder_.empty())
        return {};
    // Path, size and time name the recording: the card's next loop writes a new file under an
    // old name, and must not be shown an old picture.
    const std::string key =
        path + '\n' + std::to_string(stamp->size) + '\n' + std::to_string(stamp->modifiedNs);
    const std::string recording = platform::toHex(platform::sha256Of(key)).substr(0, 32);
    const long second =
        std::isfinite(seconds) ? std::lround(std::floor(std::max(0.0, seconds))) : 0;
    return folder_ / recording /
           (std::to_string(std::clamp(width, kMinWidth, kMaxWidth)) + "-" + std::to_string(second) +
            ".ppm");
}

Result<Thumbnail> ThumbnailCache::get(const std::string& path, double seconds, int width) const {
    const fs::path file = fileFor(path, seconds, width);
    if (!file.empty()) {
        // A thumbnail file is a few ten kilobytes; anything far larger is not one of ours.
        if (auto bytes = platform::readFileLimited(file.string(), 4 * 1024 * 1024)) {
            if (auto cached = decodePpm(*bytes)) {
                cached->keyframeSeconds = std::floor(std::max(0.0, seconds));
                return cached;
            }
        }
    }
    // The second's picture: the keyframe at or before its end, so every moment of that second
    // shares one.
    auto fresh = decodeThumbnail(path, std::floor(std::max(0.0, seconds)) + 0.999, width);
    if (fresh && !file.empty()) {
        std::error_code ec;
        fs::create_directories(file.parent_path(), ec);
        if (!ec)
            (void)platform::writeFileAtomic(file.string(), encodePpm(*fresh));
    }
    return fresh;
}

}  // namespace orvik::thumbnails
