#include "support/test_support.h"

#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <iterator>
#include <sstream>

namespace orvik::test {

namespace fs = std::filesystem;

TempDir::TempDir() {
    std::string pattern = (fs::temp_directory_path() / "orvik-test-XXXXXX").string();
    if (::mkdtemp(pattern.data()) == nullptr)
        std::abort();  // no scratch space: nothing a test could do
    path_ = pattern;
}

TempDir::~TempDir() {
    std::error_code ec;
    // Give back permissions a test took away, so the removal succeeds.
    for (auto it = fs::recursive_directory_iterator(path_, ec);
         !ec && it != fs::recursive_directory_iterator(); it.increment(ec)) {
        if (it->is_directory(ec) && !it->is_symlink(ec))
            fs::permissions(it->path(), fs::perms::owner_all, fs::perm_options::add, ec);
    }
    fs::permissions(path_, fs::perms::owner_all, fs::perm_options::add, ec);
    fs::remove_all(path_, ec);
}

fs::path TempDir::touch(const std::string& relative, const std::string& content) const {
    const fs::path p = path_ / relative;
    fs::create_directories(p.parent_path());
    writeFile(p, content);
    return p;
}

fs::path TempDir::mkdir(const std::string& relative) const {
    const fs::path p = path_ / relative;
    fs::create_directories(p);
    return p;
}

std::string readFile(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream ss;
    ss << in.rdbuf();
    return ss.str();
}

std::vector<std::uint8_t> readBytes(const fs::path& path) {
    const std::string s = readFile(path);
    return {s.begin(), s.end()};
}

bool writeFile(const fs::path& path, const std::string& content) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << content;
    out.close();
    return !out.fail();
}

bool writeBytes(const fs::path& path, const std::vector<std::uint8_t>& bytes) {
    return writeFile(path, std::string(bytes.begin(), bytes.end()));
}

std::string quote(const std::string& word) {
    std::string q = "'";
    for (char c : word)
        q += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return q + "'";
}

RunResult runCommand(const std::string& commandLine) {
    TempDir scratch;
    const std::string out = scratch / "stdout";
    const std::string err = scratch / "stderr";
    const std::string line =
        "{ " + commandLine + "\n} >" + quote(out) + " 2>" + quote(err) + " </dev/null";
    const int raw = std::system(line.c_str());
    RunResult r;
    r.status = raw != -1 && WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
    r.out = readFile(out);
    r.err = readFile(err);
    return r;
}

bool haveProgram(const std::string& name) {
    return runCommand("command -v " + quote(name)).status == 0;
}

void expectGolden(const std::string& name, const std::string& actual) {
    const fs::path golden = fs::path(ORVIK_SOURCE_DIR) / "tests" / name;
    if (const char* update = std::getenv("ORVIK_UPDATE_GOLDEN"); update && *update == '1') {
        fs::create_directories(golden.parent_path());
        ASSERT_TRUE(writeFile(golden, actual)) << "cannot rewrite " << golden;
        std::cout << "rewrote " << golden.string() << "\n";
        return;
    }
    ASSERT_TRUE(fs::exists(golden)) << golden << " is missing; ORVIK_UPDATE_GOLDEN=1 writes it";
    if (readFile(golden) == actual)
        return;
    TempDir scratch;
    const std::string got = scratch / fs::path(name).filename().string();
    writeFile(got, actual);
    const RunResult diff = runCommand("diff -u " + quote(golden.string()) + " " + quote(got));
    ADD_FAILURE() << name << " differs from the golden file (ORVIK_UPDATE_GOLDEN=1 rewrites it "
                  << "when the change is meant):\n"
                  << diff.out;
}

}  // namespace orvik::test

namespace orvik::test {

namespace {

// Every case starts with per-user folders of its own: what one case makes the viewer remember
// (an export's layout, the speed unit) never reaches the next one, nor the real home.
class FreshUserFolders : public ::testing::EmptyTestEventListener {
    void OnTestStart(const ::testing::TestInfo&) override {
        const fs::path user = root_.path() / std::to_string(++count_);
        for (const char* name : {"XDG_DATA_HOME", "XDG_CONFIG_HOME"}) {
            const fs::path folder = user / name;
            fs::create_directories(folder);
            ::setenv(name, folder.c_str(), 1);
        }
    }
    TempDir root_;
    int count_ = 0;
};

}  // namespace

int runAllTests() {
    ::testing::UnitTest::GetInstance()->listeners().Append(new FreshUserFolders);
    const int rc = RUN_ALL_TESTS();
    if (rc != 0)
        return rc;
    const ::testing::UnitTest& unit = *::testing::UnitTest::GetInstance();
    if (unit.skipped_test_count() == 0)
        return 0;
    std::cout << unit.skipped_test_count() << " of " << unit.total_test_count()
              << " cases skipped, so this program reports itself skipped:\n";
    for (int s = 0; s < unit.total_test_suite_count(); ++s) {
        const ::testing::TestSuite& suite = *unit.GetTestSuite(s);
        for (int t = 0; t < suite.total_test_count(); ++t) {
            const ::testing::TestInfo& info = *suite.GetTestInfo(t);
            if (info.result() && info.result()->Skipped())
                std::cout << "  " << suite.name() << "." << info.name() << "\n";
        }
    }
    return 77;
}

}  // namespace orvik::test
