#pragma once
// The user's thumbnail cache and its pictures as Qt images, shared by the drive strip's hover
// card and the recording list's picture column.
#include <QImage>

#include "platform/store.h"
#include "thumbnails/thumbnail.h"

namespace orvik::shell {

// $XDG_CACHE_HOME/Orvik/thumbnails; without a home folder pictures are still decoded, not kept.
// Made on the GUI thread and handed to workers by value (it only holds the folder).
inline thumbnails::ThumbnailCache userThumbnailCache() {
    const auto folder = platform::userCacheFolder();
    return thumbnails::ThumbnailCache(folder.empty() ? folder : folder / "thumbnails");
}

// A deep copy: the image outlives the thumbnail's bytes.
inline QImage imageOf(const thumbnails::Thumbnail& t) {
    return QImage(t.rgb.data(), t.width, t.height, t.width * 3, QImage::Format_RGB888).copy();
}

}  // namespace orvik::shell
