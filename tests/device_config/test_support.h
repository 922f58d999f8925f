#pragma once
// Small tmpfs mounts (for full and read-only media) for the device-configuration tests, over the
// shared tests/support.
#include <sys/mount.h>
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "support/test_support.h"

namespace orvik::test {

// A tmpfs of `bytes` mounted on a fresh folder; not available → mounted() is false (the caller
// skips: mounting needs root).
class TmpfsMount {
  public:
    explicit TmpfsMount(std::size_t bytes) {
        std::string opts = "size=" + std::to_string(bytes);
        mounted_ = ::mount("tmpfs", dir_.str().c_str(), "tmpfs", 0, opts.c_str()) == 0;
    }
    ~TmpfsMount() {
        if (mounted_)
            ::umount2(dir_.str().c_str(), MNT_DETACH);
    }
    bool mounted() const { return mounted_; }
    bool remountReadOnly() {
        return ::mount(nullptr, dir_.str().c_str(), nullptr, MS_REMOUNT | MS_RDONLY, nullptr) == 0;
    }
    std::string path() const { return dir_.str(); }
    std::string operator/(const std::string& name) const { return dir_ / name; }

  private:
    TempDir dir_;
    bool mounted_ = false;
};

// Files in a folder other than the given names (a leftover temporary file shows up here).
inline std::vector<std::string> entriesOf(const std::string& dir) {
    std::vector<std::string> out;
    for (const auto& e : std::filesystem::directory_iterator(dir))
        out.push_back(e.path().filename().string());
    return out;
}

}  // namespace orvik::test
