#pragma once
// What every test program shares: a scratch folder, reading and writing whole files, running a
// program as scripts do, and golden files compared with `diff -u`.
#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

namespace orvik::test {

// A fresh folder under the temporary directory, removed with everything in it (also what a test
// made unreadable).
class TempDir {
  public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    const std::filesystem::path& path() const { return path_; }
    std::string str() const { return path_.string(); }
    // The path of `name` inside the folder.
    std::string operator/(const std::string& name) const { return (path_ / name).string(); }

    // Creates a file (empty unless given content) and the folders above it.
    std::filesystem::path touch(const std::string& relative, const std::string& content = {}) const;
    std::filesystem::path mkdir(const std::string& relative) const;

  private:
    std::filesystem::path path_;
};

// The whole file ("" when it cannot be read).
std::string readFile(const std::filesystem::path& path);
std::vector<std::uint8_t> readBytes(const std::filesystem::path& path);
// Replaces the file's content; false when it cannot be written.
bool writeFile(const std::filesystem::path& path, const std::string& content);
bool writeBytes(const std::filesystem::path& path, const std::vector<std::uint8_t>& bytes);

struct RunResult {
    int status = -1;  // exit status; -1 when the program did not end normally
    std::string out;
    std::string err;
};

// Runs a shell command line as a script would; its standard output and error are captured.
RunResult runCommand(const std::string& commandLine);
// A single-quoted shell word.
std::string quote(const std::string& word);
// True when `name` is a program on PATH.
bool haveProgram(const std::string& name);

// Compares `actual` with tests/<name> in the source tree and reports a `diff -u` of the two;
// with ORVIK_UPDATE_GOLDEN=1 in the environment it rewrites the file instead.
void expectGolden(const std::string& name, const std::string& actual);

}  // namespace orvik::test

namespace orvik::test {

// RUN_ALL_TESTS, but a program in which a case was skipped (and none failed) ends with 77, which
// ctest shows as skipped rather than passed. The skipped cases are listed on standard output.
// Each case gets fresh, empty $XDG_DATA_HOME and $XDG_CONFIG_HOME folders of its own.
int runAllTests();

}  // namespace orvik::test
