#pragma once
// Small pictures of a recording's moments for the drive strip's hover preview: the keyframe at or
// before the moment, decoded alone (no other frame is decoded) and scaled down, and a cache of
// them per recording on disk. No Qt; FFmpeg's libraries only.
#include <cstdint>
#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

#include "platform/result.h"

namespace orvik::thumbnails {

// Packed 8-bit RGB, rows top to bottom without padding.
struct Thumbnail {
    int width = 0;
    int height = 0;
    std::vector<std::uint8_t> rgb;
    double keyframeSeconds = 0;  // where the picture is from, seconds into the recording
};

inline constexpr int kDefaultWidth = 192;
// Larger or smaller requests are clamped: a thumbnail is never a full picture.
inline constexpr int kMinWidth = 16, kMaxWidth = 640;

// Decodes the video keyframe at or before `seconds` into the recording at `path`, scaled to
// `width` (the height follows the picture's shape). Refuses what is not a regular file; a
// recording without a decodable keyframe there is an error, never a hang.
Result<Thumbnail> decodeThumbnail(const std::string& path, double seconds,
                                  int width = kDefaultWidth);

// The binary PPM ("P6") a thumbnail is cached as, and back. Reading checks the header against
// the bytes there are: a short, oversized or damaged file is an error.
std::string encodePpm(const Thumbnail& t);
Result<Thumbnail> decodePpm(std::string_view bytes);

// Thumbnails on disk, one folder per recording named after its path, size and modification time
// (a replaced file gets a new folder), one file per whole second asked for.
class ThumbnailCache {
  public:
    explicit ThumbnailCache(std::filesystem::path folder) : folder_(std::move(folder)) {}
    // The cached picture of the second `seconds` falls in, or a freshly decoded one (stored).
    // A cache that cannot be written still gives the picture.
    Result<Thumbnail> get(const std::string& path, double seconds, int width = kDefaultWidth) const;
    // Where the picture of that second would be kept; empty when the recording cannot be read.
    std::filesystem::path fileFor(const std::string& path, double seconds, int width) const;
    const std::filesystem::path& folder() const { return folder_; }

  private:
    std::filesystem::path folder_;
};

}  // namespace orvik::thumbnails
