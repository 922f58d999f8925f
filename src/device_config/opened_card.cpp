#include "device_config/opened_card.h"

#include <filesystem>
#include <mutex>
#include <set>

#include "device_config/device_config.h"
#include "device_config/drive_route.h"
#include "device_config/time_file.h"

namespace orvik::device_config {
namespace fs = std::filesystem;

namespace {
// How far above a recording the card's root may lie (the camera's folders are one deep).
constexpr int kLevelsAbove = 3;
// A listing of thousands of recordings in a few folders: only so many folders are looked into.
constexpr std::size_t kMaxFoldersLooked = 64;

std::mutex& openedMutex() {
    static std::mutex m;
    return m;
}
std::string& openedRoot() {
    static std::string root;
    return root;
}
}  // namespace

bool holdsCardFiles(const std::string& folder) {
    if (folder.empty())
        return false;
    const fs::path root(folder);
    std::error_code ec;
    return fs::is_regular_file(root / kConfigFileName, ec) ||
           fs::is_directory(root / kDrvFolder, ec) || fs::is_regular_file(root / kTimeFileName, ec);
}

std::string openedCardRoot(const std::string& folder, const std::vector<std::string>& recordings) {
    if (holdsCardFiles(folder))
        return folder;
    std::set<fs::path> looked{fs::path(folder)};
    for (const auto& recording : recordings) {
        fs::path up = fs::path(recording).parent_path();
        for (int level = 0; level <= kLevelsAbove && !up.empty(); ++level, up = up.parent_path()) {
            if (looked.size() >= kMaxFoldersLooked)
                return folder;
            if (!looked.insert(up).second)
                continue;
            if (holdsCardFiles(up.string()))
                return up.string();
            if (up == up.root_path())
                break;
        }
    }
    return folder;
}

void setOpenedCard(std::string root) {
    std::lock_guard lock(openedMutex());
    openedRoot() = std::move(root);
}

std::string openedCard() {
    std::lock_guard lock(openedMutex());
    return openedRoot();
}

std::vector<platform::Volume> cardVolumes() {
    auto volumes = platform::removableVolumes();
    if (std::string root = openedCard(); !root.empty()) {
        platform::Volume opened;
        opened.mountPoint = std::move(root);
        opened.simulated = true;
        opened.openedFolder = true;
        volumes.push_back(std::move(opened));
    }
    return volumes;
}

}  // namespace orvik::device_config
