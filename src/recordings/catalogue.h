#pragma once
// The recording catalogue: a folder (normally the card root) becomes the sorted recording list.
//
// The scan walks the folder and all its visible subfolders depth-first in the order the file
// system returns the entries. Hidden folders (a name starting with "." or the FAT hidden
// attribute) are not entered; symlinked folders are not followed, and a folder that cannot be
// read or was already visited (bind-mount loops) is skipped, so a scan always ends.
#include <cstddef>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/result.h"
#include "recordings/recording_file.h"

namespace orvik::recordings {

// Matches a file whose extension (the text after the last ".") equals the filter's, ignoring
// ASCII case. Folders never match; a name without "." never matches.
class ExtensionFilter {
  public:
    explicit ExtensionFilter(std::string extension) : extension_(std::move(extension)) {}
    bool matches(std::string_view fileName) const;
    const std::string& extension() const { return extension_; }

  private:
    std::string extension_;
};

// One matching file of a scan.
struct FileEntry {
    std::string folder;  // path of the containing folder, without a trailing "/"
    std::string name;
    bool hidden = false;  // hidden files are listed like any other
    std::string fullPath() const { return name.empty() ? folder : folder + "/" + name; }
};

// Scan-list order: full paths compared byte by byte (UTF-8, so code point order), shorter
// prefix first.
bool scanListLess(const FileEntry& a, const FileEntry& b);

struct ScanStats {
    std::size_t foldersVisited = 0;
    std::size_t foldersSkipped = 0;  // unreadable, looping or vanished folders
    std::size_t entriesSeen = 0;
};

struct ScanOptions {
    // Called now and then with the number of directory entries seen so far (for a progress
    // display on big cards); may be empty.
    std::function<void(std::size_t entriesSeen)> progress;
    ScanStats* stats = nullptr;  // filled when set
};

// Finds every matching file under root and returns them in scan-list order. Fails (with a
// message naming the path) when root is empty, does not exist, is not a folder, is hidden or
// cannot be read. An empty folder succeeds with an empty list.
Result<std::vector<FileEntry>> scanFolder(const std::string& root, const ExtensionFilter& filter,
                                          const ScanOptions& options = {});

// Rows of the recording list for the scanned files, in insertion (scan-list) order.
std::vector<RecordingFile> makeRecordingList(const std::vector<FileEntry>& entries);

// Sorts rows by recording key; equal keys keep their insertion order.
void sortRecordingList(std::vector<RecordingFile>& rows);

// Scan for "mp4" files, classify them and sort: what the Open command shows.
Result<std::vector<RecordingFile>> catalogueFolder(const std::string& root,
                                                   const ScanOptions& options = {});

}  // namespace orvik::recordings
