#pragma once
// The viewer's per-user state: its folder ~/.local/share/Orvik, the ini profile file with the
// launch counter, and a small key/value store laid out like registry keys. No Qt here.
#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

namespace orvik::platform {

// $XDG_DATA_HOME/Orvik (default ~/.local/share/Orvik), created when missing; an existing
// folder is not an error. Empty when no home folder is known.
std::filesystem::path applicationDataFolder();
// The per-user cache folder, spelt as the data folder is: $XDG_CACHE_HOME/Orvik (an absolute
// $XDG_CACHE_HOME only), else ~/.cache/Orvik; empty when no home folder is known. Not created.
std::filesystem::path userCacheFolder();
// applicationDataFolder() / name (the folder is created first).
std::filesystem::path applicationDataFile(std::string_view name);

// A profile (ini) file: "[section]" lines, "key=value" lines. Section and key names keep
// the spelling they were written with and are matched ignoring ASCII case, as profile files
// always were. Every write rewrites the whole file through a temporary file, so a failed
// write leaves the old file as it was.
class IniFile {
  public:
    explicit IniFile(std::filesystem::path path) : path_(std::move(path)) {}

    // -1 without touching `value` when the file cannot be opened for reading; otherwise 0 with
    // the value (at most 79 characters) or "error" when the key is absent.
    int read(std::string_view section, std::string_view key, std::string& value) const;
    // 0 on success, -1 when the file could not be written.
    int write(std::string_view section, std::string_view key, std::string_view value);

    const std::filesystem::path& path() const { return path_; }

  private:
    std::filesystem::path path_;
};

// The viewer ini file and its one section and key.
inline constexpr std::string_view kViewerIniName = "tz646xeb.ini";
inline constexpr std::string_view kViewerIniSection = "TZ646xEB";
inline constexpr std::string_view kLaunchCounterKey = "ramdom";  // spelled so in stored files

IniFile viewerIni();

// A choice the viewer remembers, a key of the viewer ini's own section: "" when the file or the
// key is missing; storing it keeps every other line of the file.
std::string viewerSetting(std::string_view key);
void storeViewerSetting(std::string_view key, std::string_view value);

// Choices the viewer remembers whose values may be long (folders, which the viewer ini's reads
// would cut at 79 characters): "choices.ini" in the data folder, one [Choices] section, values
// kept whole. "" when the file or key is missing. A value with a line break is not stored.
inline constexpr std::string_view kChoicesIniName = "choices.ini";
std::string rememberedChoice(std::string_view key);
bool rememberChoice(std::string_view key, std::string_view value);

// Reads the launch counter, seeds it (1..100 from the clock) when the file or key is missing,
// adds one and stores it. Text that is not a number counts as 0. Returns the stored value.
int nextLaunchCounter(IniFile& ini);
int nextLaunchCounter();  // over viewerIni()

// Registry-like store in ~/.local/share/Orvik/registry.ini: one "[ROOT\key path]" section per
// key, "name=dword:0000xxxx" or "name=sz:text" lines. Keys exist only once created.
class KeyValueStore {
  public:
    explicit KeyValueStore(std::filesystem::path path) : path_(std::move(path)) {}
    static KeyValueStore user();  // the viewer's store file

    bool keyExists(std::string_view key) const;
    // Creates the key; creating an existing key just succeeds.
    bool createKey(std::string_view key);
    std::optional<std::uint32_t> queryDword(std::string_view key, std::string_view name) const;
    // Fails when the key does not exist.
    bool setDword(std::string_view key, std::string_view name, std::uint32_t value);

    const std::filesystem::path& path() const { return path_; }

  private:
    std::filesystem::path path_;
};

}  // namespace orvik::platform
