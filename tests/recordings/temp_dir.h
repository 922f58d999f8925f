#pragma once
// A scratch folder under the test's temporary directory, removed with everything in it.
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

namespace orvik::recordings::testing {

class TempDir {
  public:
    TempDir() {
        std::string pattern =
            (std::filesystem::temp_directory_path() / "orvik-rec-XXXXXX").string();
        if (::mkdtemp(pattern.data()) == nullptr)
            std::abort();
        path_ = pattern;
    }
    ~TempDir() {
        std::error_code ec;
        // Give back permissions a test took away, so the removal succeeds.
        for (auto it = std::filesystem::recursive_directory_iterator(path_, ec);
             !ec && it != std::filesystem::recursive_directory_iterator(); it.increment(ec)) {
            if (it->is_directory(ec) && !it->is_symlink(ec)) {
                std::filesystem::permissions(it->path(), std::filesystem::perms::owner_all,
                                             std::filesystem::perm_options::add, ec);
            }
        }
        std::filesystem::remove_all(path_, ec);
    }
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    const std::filesystem::path& path() const { return path_; }
    std::string str() const { return path_.string(); }

    // Creates an (empty unless given content) file and its folders.
    std::filesystem::path touch(const std::string& relative,
                                const std::string& content = {}) const {
        const auto p = path_ / relative;
        std::filesystem::create_directories(p.parent_path());
        std::ofstream(p, std::ios::binary) << content;
        return p;
    }
    std::filesystem::path mkdir(const std::string& relative) const {
        const auto p = path_ / relative;
        std::filesystem::create_directories(p);
        return p;
    }

  private:
    std::filesystem::path path_;
};

}  // namespace orvik::recordings::testing
