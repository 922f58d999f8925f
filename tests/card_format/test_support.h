#pragma once
// Helpers for the formatter tests: sparse card images in a private temporary folder, and running
// the standard FAT tools on them (over the shared tests/support).
#include <sys/stat.h>
#include <unistd.h>

#include <array>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include "support/test_support.h"

namespace orvik::card_format::testing {

using orvik::test::quote;
using orvik::test::readFile;
using orvik::test::RunResult;
using orvik::test::TempDir;

// A command line with its error output in `out` too.
inline RunResult run(const std::string& command) {
    return orvik::test::runCommand(command + " 2>&1");
}

inline bool haveTool(const std::string& name) {
    return orvik::test::haveProgram(name);
}

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
