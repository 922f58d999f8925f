#include "recordings/catalogue.h"

#include <dirent.h>
#include <fcntl.h>
#include <linux/msdos_fs.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <set>
#include <utility>

#include "platform/system_error.h"

namespace orvik::recordings {

namespace {

constexpr std::uint32_t kFatHiddenAttribute = 0x02;
constexpr std::size_t kProgressEvery = 1024;

char upperAscii(char c) {
    return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c;
}

// On a FAT card "hidden" is also an attribute of the directory entry; other file systems do not
// answer the request, which then counts as visible.
bool fatHidden(int fd) {
    std::uint32_t attributes = 0;
    if (::ioctl(fd, FAT_IOCTL_GET_ATTRIBUTES, &attributes) != 0)
        return false;
    return (attributes & kFatHiddenAttribute) != 0;
}

// The last component of the path as the user means it ("card/", "." and "a/.." included).
std::string lastComponent(const std::string& path) {
    std::error_code ec;
    std::filesystem::path p = std::filesystem::absolute(path, ec);
    if (ec)
        p = path;
    p = p.lexically_normal();
    if (!p.has_filename())
        p = p.parent_path();
    return p.filename().string();
}

// A match of the walk: its full path and where the name starts in it.
struct FoundFile {
    std::string path;
    std::size_t nameAt;
    friend bool operator<(const FoundFile& a, const FoundFile& b) { return a.path < b.path; }
};

class Scanner {
  public:
    Scanner(const ExtensionFilter& filter, const ScanOptions& options, ScanStats& stats)
        : filter_(filter), options_(options), stats_(stats) {}

    // Walks the folder open at fd (taking ownership), depth-first.
    void walk(int rootFd, const std::string& rootPath) {
        struct Level {
            DIR* dir;
            std::string path;
        };
        std::vector<Level> stack;
        if (!enter(rootFd, rootPath, stack))
            return;
        while (!stack.empty()) {
            Level& top = stack.back();
            errno = 0;
            dirent* e = ::readdir(top.dir);
            if (e == nullptr) {
                ::closedir(top.dir);
                stack.pop_back();
                continue;
            }
            const char* name = e->d_name;
            if (name[0] == '.' && (name[1] == '\0' || (name[1] == '.' && name[2] == '\0'))) {
                continue;
            }
            if (++stats_.entriesSeen % kProgressEvery == 0 && options_.progress) {
                options_.progress(stats_.entriesSeen);
            }
            const int dirFd = ::dirfd(top.dir);
            unsigned char type = e->d_type;
            if (type == DT_UNKNOWN) {
                struct stat st {};
                if (::fstatat(dirFd, name, &st, AT_SYMLINK_NOFOLLOW) != 0)
                    continue;
                type = S_ISDIR(st.st_mode)   ? DT_DIR
                       : S_ISREG(st.st_mode) ? DT_REG
                       : S_ISLNK(st.st_mode) ? DT_LNK
                                             : DT_FIFO;
            }
            if (type == DT_LNK) {
                // A linked file is listed; a linked folder is not followed (no loops that way).
                struct stat st {};
                if (::fstatat(dirFd, name, &st, 0) != 0 || !S_ISREG(st.st_mode))
                    continue;
                type = DT_REG;
            }
            if (type == DT_REG) {
                if (filter_.matches(name)) {
                    std::string path;
                    path.reserve(top.path.size() + 1 + std::strlen(name));
                    path += top.path;
                    path += '/';
                    path += name;
                    found_.push_back({std::move(path), top.path.size() + 1});
                }
                continue;
            }
            // Sockets, pipes and devices are never recordings (opening a pipe would block).
            if (type != DT_DIR || name[0] == '.')
                continue;
            const int fd = ::openat(dirFd, name, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
            if (fd < 0) {
                ++stats_.foldersSkipped;
                continue;
            }
            if (fatHidden(fd)) {
                ::close(fd);
                continue;
            }
            std::string path = top.path;
            path += '/';
            path += name;
            enter(fd, std::move(path), stack);  // may reallocate: top is not used after this
        }
    }

    std::vector<FoundFile> take() { return std::move(found_); }

  private:
    template <typename Stack>
    bool enter(int fd, std::string path, Stack& stack) {
        struct stat st {};
        if (::fstat(fd, &st) != 0 || !visited_.insert({st.st_dev, st.st_ino}).second) {
            ::close(fd);
            ++stats_.foldersSkipped;
            return false;
        }
        DIR* dir = ::fdopendir(fd);
        if (dir == nullptr) {
            ::close(fd);
            ++stats_.foldersSkipped;
            return false;
        }
        ++stats_.foldersVisited;
        stack.push_back({dir, std::move(path)});
        return true;
    }

    const ExtensionFilter& filter_;
    const ScanOptions& options_;
    ScanStats& stats_;
    std::set<std::pair<dev_t, ino_t>> visited_;
    std::vector<FoundFile> found_;
};

}  // namespace

bool ExtensionFilter::matches(std::string_view fileName) const {
    const std::size_t dot = fileName.rfind('.');
    if (dot == std::string_view::npos)
        return false;
    const std::string_view ext = fileName.substr(dot + 1);
    if (ext.size() != extension_.size())
        return false;
    for (std::size_t i = 0; i < ext.size(); ++i) {
        if (upperAscii(ext[i]) != upperAscii(extension_[i]))
            return false;
    }
    return true;
}

bool scanListLess(const FileEntry& a, const FileEntry& b) {
    // Compare "folder/name" without building the strings.
    const auto piece = [](const FileEntry& e, std::size_t i) -> int {
        if (i < e.folder.size())
            return static_cast<unsigned char>(e.folder[i]);
        if (e.name.empty())
            return -1;
        if (i == e.folder.size())
            return '/';
        const std::size_t j = i - e.folder.size() - 1;
        return j < e.name.size() ? static_cast<unsigned char>(e.name[j]) : -1;
    };
    for (std::size_t i = 0;; ++i) {
        const int ca = piece(a, i), cb = piece(b, i);
        if (ca != cb)
            return ca < cb;
        if (ca < 0)
            return false;
    }
}

namespace {

// The matches under root in scan-list order (byte order of the full paths).
Result<std::vector<FoundFile>> scanPaths(const std::string& root, const ExtensionFilter& filter,
                                         const ScanOptions& options) {
    if (root.empty())
        return makeError("no folder given");
    struct stat st {};
    if (::stat(root.c_str(), &st) != 0) {
        return makeError("cannot open folder '" + root + "': " + platform::systemErrorText(errno));
    }
    if (!S_ISDIR(st.st_mode))
        return makeError("'" + root + "' is not a folder");
    if (lastComponent(root).starts_with('.')) {
        return makeError("'" + root + "' is a hidden folder");
    }
    const int fd = ::open(root.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0)
        return makeError("cannot read folder '" + root + "': " + platform::systemErrorText(errno));
    if (fatHidden(fd)) {
        ::close(fd);
        return makeError("'" + root + "' is a hidden folder");
    }
    std::string rootPath = root;
    while (rootPath.size() > 1 && rootPath.back() == '/')
        rootPath.pop_back();
    if (rootPath == "/")
        rootPath.clear();  // children become "/name"

    ScanStats localStats;
    ScanStats& stats = options.stats != nullptr ? *options.stats : localStats;
    stats = {};
    Scanner scanner(filter, options, stats);
    scanner.walk(fd, rootPath);
    std::vector<FoundFile> found = scanner.take();
    std::sort(found.begin(), found.end());
    if (options.progress)
        options.progress(stats.entriesSeen);
    return found;
}

}  // namespace

Result<std::vector<FileEntry>> scanFolder(const std::string& root, const ExtensionFilter& filter,
                                          const ScanOptions& options) {
    auto found = scanPaths(root, filter, options);
    if (!found)
        return makeError(found.error());
    std::vector<FileEntry> entries;
    entries.reserve(found->size());
    for (const FoundFile& f : *found) {
        FileEntry e;
        e.folder = f.path.substr(0, f.nameAt - 1);
        e.name = f.path.substr(f.nameAt);
        e.hidden = e.name.starts_with('.');
        entries.push_back(std::move(e));
    }
    return entries;
}

std::vector<RecordingFile> makeRecordingList(const std::vector<FileEntry>& entries) {
    std::vector<RecordingFile> rows;
    rows.reserve(entries.size());
    for (std::size_t i = 0; i < entries.size(); ++i) {
        RecordingFile row = parseRecordingName(entries[i].name, entries[i].fullPath());
        row.insertionIndex = i;
        rows.push_back(std::move(row));
    }
    return rows;
}

void sortRecordingList(std::vector<RecordingFile>& rows) {
    // The first 24 bytes of each key's byte-comparable form, packed into integers: the common
    // keys ("YYYYMMDD_hhmmss_C") are ordered by three integer compares, and only ties or longer
    // keys fall back to the full comparison. Positions are sorted, then each row moved once.
    struct Packed {
        std::array<std::uint64_t, 3> words{};
        bool operator==(const Packed&) const = default;
        auto operator<=>(const Packed&) const = default;
    };
    std::vector<Packed> packed(rows.size());
    for (std::size_t i = 0; i < rows.size(); ++i) {
        const std::string sortKey = recordingSortKey(rows[i].key);
        const std::size_t primary = rows[i].key.size();
        for (std::size_t k = 0; k < 24 && k < primary; ++k) {
            packed[i].words[k / 8] |= std::uint64_t{static_cast<unsigned char>(sortKey[k])}
                                      << (56 - 8 * (k % 8));
        }
    }
    std::vector<std::size_t> order(rows.size());
    for (std::size_t i = 0; i < order.size(); ++i)
        order[i] = i;
    std::sort(order.begin(), order.end(), [&](std::size_t a, std::size_t b) {
        if (packed[a] != packed[b])
            return packed[a] < packed[b];
        const int c = compareRecordingKeys(rows[a].key, rows[b].key);
        if (c != 0)
            return c < 0;
        if (rows[a].insertionIndex != rows[b].insertionIndex) {
            return rows[a].insertionIndex < rows[b].insertionIndex;
        }
        return a < b;
    });
    std::vector<RecordingFile> sorted;
    sorted.reserve(rows.size());
    for (std::size_t i : order)
        sorted.push_back(std::move(rows[i]));
    rows = std::move(sorted);
}

Result<std::vector<RecordingFile>> catalogueFolder(const std::string& root,
                                                   const ScanOptions& options) {
    // Straight from the found paths to rows: a big card is mostly string handling.
    auto found = scanPaths(root, ExtensionFilter("mp4"), options);
    if (!found)
        return makeError(found.error());
    std::vector<RecordingFile> rows;
    rows.reserve(found->size());
    for (std::size_t i = 0; i < found->size(); ++i) {
        FoundFile& f = (*found)[i];
        RecordingFile row = parseRecordingName(std::string_view(f.path).substr(f.nameAt));
        row.fullPath = std::move(f.path);
        row.insertionIndex = i;
        rows.push_back(std::move(row));
    }
    sortRecordingList(rows);
    return rows;
}

}  // namespace orvik::recordings
