#pragma once
// Scratch folders, small tmpfs mounts (for full and read-only media) and file helpers shared by
// the device-configuration tests.
#include <sys/mount.h>
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace orvik::test {

class TempDir {
  public:
    TempDir() {
        std::string tmpl = (std::filesystem::temp_directory_path() / "orvik-test-XXXXXX").string();
        path_ = ::mkdtemp(tmpl.data());
    }
    ~TempDir() {
        std::error_code ec;
        std::filesystem::remove_all(path_, ec);
    }
    const std::string& path() const { return path_; }
    std::string operator/(const std::string& name) const {
        return (std::filesystem::path(path_) / name).string();
    }
    std::string makeDir(const std::string& name) const {
        auto p = *this / name;
        std::filesystem::create_directories(p);
        return p;
    }

  private:
    std::string path_;
};

// A tmpfs of `bytes` mounted on a fresh folder; not available → mounted() is false (the caller
// skips: mounting needs root).
class TmpfsMount {
  public:
    explicit TmpfsMount(std::size_t bytes) {
        std::string opts = "size=" + std::to_string(bytes);
        mounted_ = ::mount("tmpfs", dir_.path().c_str(), "tmpfs", 0, opts.c_str()) == 0;
    }
    ~TmpfsMount() {
        if (mounted_)
            ::umount2(dir_.path().c_str(), MNT_DETACH);
    }
    bool mounted() const { return mounted_; }
    bool remountReadOnly() {
        return ::mount(nullptr, dir_.path().c_str(), nullptr, MS_REMOUNT | MS_RDONLY, nullptr) == 0;
    }
    const std::string& path() const { return dir_.path(); }
    std::string operator/(const std::string& name) const { return dir_ / name; }

  private:
    TempDir dir_;
    bool mounted_ = false;
};

inline std::vector<std::uint8_t> readBytes(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

inline std::string readText(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

inline void writeBytes(const std::string& path, const std::vector<std::uint8_t>& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()),
              static_cast<std::streamsize>(bytes.size()));
}

inline void writeText(const std::string& path, const std::string& text) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << text;
}

// Files in a folder other than the given names (a leftover temporary file shows up here).
inline std::vector<std::string> entriesOf(const std::string& dir) {
    std::vector<std::string> out;
    for (const auto& e : std::filesystem::directory_iterator(dir))
        out.push_back(e.path().filename().string());
    return out;
}

}  // namespace orvik::test
