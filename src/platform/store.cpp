#include "platform/store.h"

#include "platform/commit_writer.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <fstream>
#include <sstream>
#include <vector>

namespace orvik::platform {
namespace fs = std::filesystem;

namespace {

bool equalsIgnoreCase(std::string_view a, std::string_view b) {
    if (a.size() != b.size())
        return false;
    for (size_t i = 0; i < a.size(); ++i) {
        auto lower = [](char c) { return c >= 'A' && c <= 'Z' ? char(c - 'A' + 'a') : c; };
        if (lower(a[i]) != lower(b[i]))
            return false;
    }
    return true;
}

std::string_view trim(std::string_view s) {
    while (!s.empty() && (s.front() == ' ' || s.front() == '\t'))
        s.remove_prefix(1);
    while (!s.empty() && (s.back() == ' ' || s.back() == '\t' || s.back() == '\r'))
        s.remove_suffix(1);
    return s;
}

std::optional<std::vector<std::string>> readLines(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in)
        return std::nullopt;
    std::vector<std::string> lines;
    std::string line;
    while (std::getline(in, line)) {
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        lines.push_back(line);
    }
    return lines;
}

// The whole file is replaced at once: a failed write keeps the old one.
bool writeLinesAtomically(const fs::path& path, const std::vector<std::string>& lines) {
    std::error_code ec;
    if (path.has_parent_path())
        fs::create_directories(path.parent_path(), ec);
    std::string text;
    for (const auto& l : lines)
        text.append(l).append("\n");
    return writeFileAtomic(path.string(), text).ok();
}

// Where section `name` starts (its header line) and ends (one past its last line).
struct SectionRange {
    size_t header = std::string::npos, end = std::string::npos;
};
SectionRange findSection(const std::vector<std::string>& lines, std::string_view name) {
    SectionRange r;
    for (size_t i = 0; i < lines.size(); ++i) {
        std::string_view t = trim(lines[i]);
        if (t.size() >= 2 && t.front() == '[' && t.back() == ']') {
            if (r.header != std::string::npos) {
                r.end = i;
                return r;
            }
            if (equalsIgnoreCase(trim(t.substr(1, t.size() - 2)), name))
                r.header = i;
        }
    }
    if (r.header != std::string::npos)
        r.end = lines.size();
    return r;
}

// Index of the key's line inside the section, npos when absent.
size_t findKey(const std::vector<std::string>& lines, const SectionRange& s, std::string_view key) {
    for (size_t i = s.header + 1; i < s.end; ++i) {
        std::string_view t = lines[i];
        const auto eq = t.find('=');
        if (eq != std::string_view::npos && equalsIgnoreCase(trim(t.substr(0, eq)), key))
            return i;
    }
    return std::string::npos;
}

std::optional<std::string> lookup(const fs::path& path, std::string_view section,
                                  std::string_view key, bool& fileOpened) {
    auto lines = readLines(path);
    fileOpened = lines.has_value();
    if (!lines)
        return std::nullopt;
    const auto s = findSection(*lines, section);
    if (s.header == std::string::npos)
        return std::nullopt;
    const auto k = findKey(*lines, s, key);
    if (k == std::string::npos)
        return std::nullopt;
    const std::string& l = (*lines)[k];
    return std::string(trim(std::string_view(l).substr(l.find('=') + 1)));
}

bool store(const fs::path& path, std::string_view section, std::string_view key,
           std::optional<std::string_view> value, bool createSection) {
    auto lines = readLines(path).value_or(std::vector<std::string>{});
    auto s = findSection(lines, section);
    if (s.header == std::string::npos) {
        if (!createSection)
            return false;
        if (!lines.empty() && !trim(lines.back()).empty())
            lines.emplace_back();
        lines.push_back("[" + std::string(section) + "]");
        s.header = lines.size() - 1;
        s.end = lines.size();
    }
    if (value) {
        const std::string line = std::string(key) + "=" + std::string(*value);
        const auto k = findKey(lines, s, key);
        if (k != std::string::npos) {
            lines[k] = line;
        } else {
            // After the section's last non-empty line, so blank separators stay between sections.
            size_t at = s.end;
            while (at > s.header + 1 && trim(lines[at - 1]).empty())
                --at;
            lines.insert(lines.begin() + static_cast<std::ptrdiff_t>(at), line);
        }
    }
    return writeLinesAtomically(path, lines);
}

}  // namespace

fs::path applicationDataFolder() {
    fs::path base;
    if (const char* xdg = std::getenv("XDG_DATA_HOME"); xdg && *xdg && xdg[0] == '/') {
        base = xdg;
    } else if (const char* home = std::getenv("HOME"); home && *home) {
        base = fs::path(home) / ".local" / "share";
    } else {
        return {};
    }
    fs::path folder = base / "Orvik";
    std::error_code ec;
    fs::create_directories(folder, ec);
    return folder;
}

fs::path userCacheFolder() {
    if (const char* xdg = std::getenv("XDG_CACHE_HOME"); xdg && *xdg == '/')
        return fs::path(xdg) / "Orvik";
    if (const char* home = std::getenv("HOME"); home && *home)
        return fs::path(home) / ".cache" / "Orvik";
    return {};
}

fs::path applicationDataFile(std::string_view name) {
    return applicationDataFolder() / name;
}

int IniFile::read(std::string_view section, std::string_view key, std::string& value) const {
    bool opened = false;
    auto v = lookup(path_, section, key, opened);
    if (!opened)
        return -1;
    value = v ? v->substr(0, 79) : "error";
    return 0;
}

int IniFile::write(std::string_view section, std::string_view key, std::string_view value) {
    return store(path_, section, key, value, true) ? 0 : -1;
}

IniFile viewerIni() {
    return IniFile(applicationDataFile(kViewerIniName));
}

std::string viewerSetting(std::string_view key) {
    std::string value;
    if (viewerIni().read(kViewerIniSection, key, value) != 0 || value == "error")
        return {};
    return value;
}

void storeViewerSetting(std::string_view key, std::string_view value) {
    auto ini = viewerIni();
    (void)ini.write(kViewerIniSection, key, value);
}

namespace {
constexpr std::string_view kChoicesSection = "Choices";
}  // namespace

std::string rememberedChoice(std::string_view key) {
    bool opened = false;
    return lookup(applicationDataFile(kChoicesIniName), kChoicesSection, key, opened)
        .value_or(std::string());
}

bool rememberChoice(std::string_view key, std::string_view value) {
    // A line break would end the value and start a line of its own.
    if (value.find_first_of("\r\n") != std::string_view::npos)
        return false;
    return store(applicationDataFile(kChoicesIniName), kChoicesSection, key, value, true);
}

int nextLaunchCounter(IniFile& ini) {
    std::string text;
    std::int64_t n = 0;
    if (ini.read(kViewerIniSection, kLaunchCounterKey, text) == -1 || text == "error") {
        std::srand(static_cast<unsigned>(std::time(nullptr)));
        n = std::rand() % 100 + 1;
        ini.write(kViewerIniSection, kLaunchCounterKey, std::to_string(n));
    } else {
        // Leading digits count, the rest is ignored; clamped to the 32-bit range.
        errno = 0;
        const long long v = std::strtoll(text.c_str(), nullptr, 10);
        n = v > INT32_MAX ? INT32_MAX : v < INT32_MIN ? INT32_MIN : v;
    }
    // The counter wraps around at the top of the 32-bit range instead of overflowing.
    const auto next = static_cast<std::int32_t>(static_cast<std::uint32_t>(n) + 1u);
    ini.write(kViewerIniSection, kLaunchCounterKey, std::to_string(next));
    return next;
}

int nextLaunchCounter() {
    IniFile ini = viewerIni();
    return nextLaunchCounter(ini);
}

KeyValueStore KeyValueStore::user() {
    return KeyValueStore(applicationDataFile("registry.ini"));
}

bool KeyValueStore::keyExists(std::string_view key) const {
    auto lines = readLines(path_);
    return lines && findSection(*lines, key).header != std::string::npos;
}

bool KeyValueStore::createKey(std::string_view key) {
    if (keyExists(key))
        return true;
    return store(path_, key, {}, std::nullopt, true);
}

std::optional<std::uint32_t> KeyValueStore::queryDword(std::string_view key,
                                                       std::string_view name) const {
    bool opened = false;
    auto v = lookup(path_, key, name, opened);
    if (!v || v->rfind("dword:", 0) != 0 || v->size() != 14)
        return std::nullopt;
    char* end = nullptr;
    const unsigned long value = std::strtoul(v->c_str() + 6, &end, 16);
    if (end != v->c_str() + v->size())
        return std::nullopt;
    return static_cast<std::uint32_t>(value);
}

bool KeyValueStore::setDword(std::string_view key, std::string_view name, std::uint32_t value) {
    char text[16];
    std::snprintf(text, sizeof text, "dword:%08x", value);
    return store(path_, key, name, std::string_view(text), false);
}

}  // namespace orvik::platform
