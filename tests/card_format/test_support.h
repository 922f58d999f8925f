#pragma once
// Helpers for the formatter tests: sparse card images in a private temporary folder, and running
// the standard FAT tools on them.
#include <sys/stat.h>
#include <unistd.h>

#include <array>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

namespace orvik::card_format::testing {

struct CommandResult {
    int exitCode = -1;
    std::string output;  // stdout and stderr together
};

inline CommandResult run(const std::string& command) {
    CommandResult r;
    FILE* p = ::popen((command + " 2>&1").c_str(), "r");
    if (!p)
        return r;
    std::array<char, 4096> buf{};
    std::size_t n;
    while ((n = std::fread(buf.data(), 1, buf.size(), p)) > 0)
        r.output.append(buf.data(), n);
    int status = ::pclose(p);
    r.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return r;
}

inline bool haveTool(const std::string& name) {
    return run("command -v " + name + " >/dev/null").exitCode == 0;
}

inline std::string quote(const std::string& s) {
    std::string out = "'";
    for (char c : s)
        out += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return out + "'";
}

class TempDir {
  public:
    TempDir() {
        std::string tmpl = (std::filesystem::temp_directory_path() / "orvik-fmt-XXXXXX").string();
        path_ = ::mkdtemp(tmpl.data()) ? tmpl : std::string();
    }
    ~TempDir() {
        std::error_code ec;
        if (!path_.empty())
            std::filesystem::remove_all(path_, ec);
    }
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    const std::string& path() const { return path_; }
    std::string file(const std::string& name) const { return path_ + "/" + name; }

  private:
    std::string path_;
};

// A sparse file of `bytes`: nothing is allocated until written.
inline bool makeSparseImage(const std::string& path, std::uint64_t bytes) {
    FILE* f = std::fopen(path.c_str(), "wb");
    if (!f)
        return false;
    bool ok = ::ftruncate(::fileno(f), static_cast<off_t>(bytes)) == 0;
    return std::fclose(f) == 0 && ok;
}

inline std::uint64_t allocatedBytes(const std::string& path) {
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0 ? static_cast<std::uint64_t>(st.st_blocks) * 512 : 0;
}

inline std::string readBytes(const std::string& path, std::uint64_t offset, std::size_t size) {
    std::ifstream in(path, std::ios::binary);
    in.seekg(static_cast<std::streamoff>(offset));
    std::string s(size, '\0');
    in.read(s.data(), static_cast<std::streamsize>(size));
    s.resize(static_cast<std::size_t>(in.gcount()));
    return s;
}

inline void writeBytes(const std::string& path, std::uint64_t offset, const std::string& data) {
    std::fstream f(path, std::ios::binary | std::ios::in | std::ios::out);
    f.seekp(static_cast<std::streamoff>(offset));
    f.write(data.data(), static_cast<std::streamsize>(data.size()));
}

inline std::string readFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream ss;
    ss << in.rdbuf();
    return ss.str();
}

inline std::uint32_t le32(const std::string& s, std::size_t at) {
    auto b = [&](std::size_t i) {
        return static_cast<std::uint32_t>(static_cast<unsigned char>(s[at + i]));
    };
    return b(0) | (b(1) << 8) | (b(2) << 16) | (b(3) << 24);
}
inline std::uint32_t le16(const std::string& s, std::size_t at) {
    return le32(s + std::string(2, '\0'), at) & 0xFFFF;
}

}  // namespace orvik::card_format::testing
