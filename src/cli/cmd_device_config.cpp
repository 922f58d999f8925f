// orvik-cli config / drv / timefile / card: the camera's files on a card, from a script.
#include <sys/stat.h>

#include <filesystem>
#include <iostream>
#include <nlohmann/json.hpp>

#include "cli/command_registry.h"
#include "device_config/device_config.h"
#include "device_config/drive_route.h"
#include "device_config/time_file.h"
#include "device_config/validation.h"
#include "platform/volumes.h"

namespace orvik::cli {
namespace {

namespace dc = orvik::device_config;
namespace fs = std::filesystem;

// A card folder stands for the configuration file in its root.
std::string configPathFor(const std::string& path) {
    std::error_code ec;
    if (fs::is_directory(path, ec))
        return (fs::path(path) / dc::kConfigFileName).string();
    return path;
}

std::string hex(std::uint32_t v, int digits) {
    char buf[16];
    std::snprintf(buf, sizeof buf, "0x%0*X", digits, v);
    return buf;
}

int reportSave(const dc::SaveOutcome& out) {
    if (out.saved())
        return kExitOk;
    if (out.status == dc::SaveStatus::WriteProtected) {
        printError(out.path + ": the disk cannot be written to because it is write protected");
    } else if (out.status == dc::SaveStatus::Cancelled) {
        printError("nothing was written");
    } else {
        printError(out.error);
    }
    return kExitFailed;
}

int configShow(const std::string& pathArg, bool json) {
    std::string path = configPathFor(pathArg);
    auto config = dc::readConfigFile(path);
    if (!config) {
        printError(config.error());
        return kExitFailed;
    }
    if (json) {
        nlohmann::ordered_json j;
        for (const auto& f : dc::fieldTable())
            j[std::string(f.name)] = dc::fieldValue(*config, f);
        j["checksumValid"] = config->checksumValid();
        std::cout << j.dump(2) << '\n';
        return kExitOk;
    }
    std::cout << "# " << path << '\n';
    for (const auto& f : dc::fieldTable()) {
        std::uint32_t v = dc::fieldValue(*config, f);
        std::string line = std::string(f.name) + " = ";
        if (f.kind == dc::FieldKind::Header ||
            f.name.find("MotionArea") != std::string_view::npos) {
            line += hex(v, f.width == 2 ? 4 : 3);
        } else {
            line += std::to_string(v);
        }
        std::string text = dc::describeValue(*config, f, v);
        if (f.name == "checksum")
            text = config->checksumValid()
                       ? "valid"
                       : "invalid, expected " + hex(config->computeChecksum(), 4);
        if (f.kind == dc::FieldKind::Setting && !dc::valueAllowed(f, v))
            text += text.empty() ? "out of range" : ", out of range";
        if (!text.empty())
            line += "  (" + text + ")";
        std::cout << line << '\n';
    }
    return kExitOk;
}

int configSet(const std::string& pathArg, const std::vector<std::string>& assignments) {
    std::string path = configPathFor(pathArg);
    auto config = dc::readConfigFile(path);
    if (!config) {
        printError(config.error());
        return kExitFailed;
    }
    for (const auto& a : assignments) {
        auto eq = a.find('=');
        if (eq == std::string::npos || eq == 0) {
            printError("expected name=value, got \"" + a + "\"");
            return kExitUsage;
        }
        std::string name = a.substr(0, eq);
        if (!dc::findField(name)) {
            printError("unknown field \"" + name + "\" (see orvik-cli config show)");
            return kExitUsage;
        }
        if (auto r = dc::setFieldFromText(*config, name, a.substr(eq + 1)); !r) {
            printError(r.error());
            return kExitFailed;
        }
    }
    // The same checks as the settings dialog's Save; nothing is written when one fails.
    if (int id = dc::checkBeforeSave(*config); id != 0) {
        printError(dc::checkMessage(id));
        return kExitFailed;
    }
    if (int rc = reportSave(dc::writeConfigFile(path, *config)); rc != kExitOk)
        return rc;
    std::cout << "saved " << path << '\n';
    return kExitOk;
}

int configDefaults(const std::string& outArg) {
    std::string path = configPathFor(outArg);
    if (int rc = reportSave(dc::writeConfigFile(path, dc::DeviceConfig())); rc != kExitOk)
        return rc;
    std::cout << "saved " << path << '\n';
    return kExitOk;
}

int drv(const std::string& file, const std::string& csvOut) {
    auto route = dc::readDriveRouteFile(file);
    if (!route) {
        printError(route.error());
        return kExitFailed;
    }
    auto rows = dc::buildDriveRouteTable(route->records);
    if (!csvOut.empty()) {
        if (rows.empty()) {
            printError(file + " holds no records: nothing to export");
            return kExitFailed;
        }
        if (int rc = reportSave(dc::exportDriveRouteCsv(csvOut, rows)); rc != kExitOk)
            return rc;
        std::cout << "exported " << rows.size() << " records to " << csvOut << '\n';
        return kExitOk;
    }
    // Columns right-aligned to their widest cell, as the list shows them.
    auto cols = dc::driveRouteColumns();
    std::array<std::size_t, dc::kDrvColumnCount> width{};
    for (std::size_t c = 0; c < dc::kDrvColumnCount; ++c)
        width[c] = cols[c].englishHeader.size();
    for (const auto& r : rows)
        for (std::size_t c = 0; c < dc::kDrvColumnCount; ++c)
            width[c] = std::max(width[c], r[c].size());
    auto printRow = [&](auto cell) {
        std::string line;
        for (std::size_t c = 0; c < dc::kDrvColumnCount; ++c) {
            std::string s(cell(c));
            if (c)
                line += "  ";
            line += std::string(width[c] - std::min(width[c], s.size()), ' ') + s;
        }
        std::cout << line << '\n';
    };
    printRow([&](std::size_t c) { return cols[c].englishHeader; });
    for (const auto& r : rows)
        printRow([&](std::size_t c) { return r[c]; });
    if (route->truncated())
        std::cerr << "orvik-cli: the header counts " << route->headerCount
                  << " records, the file holds " << route->records.size() << '\n';
    return kExitOk;
}

int timefile(const std::string& dir, const std::string& at) {
    dc::DeviceTime time = dc::currentLocalTime();
    if (!at.empty()) {
        auto parsed = dc::parseDeviceTime(at);
        if (!parsed) {
            printError(parsed.error());
            return kExitUsage;
        }
        time = *parsed;
    }
    std::error_code ec;
    std::string path =
        fs::is_directory(dir, ec) ? (fs::path(dir) / dc::kTimeFileName).string() : dir;
    if (int rc = reportSave(dc::writeTimeFile(path, time)); rc != kExitOk)
        return rc;
    std::cout << "saved " << path << ": " << dc::formatTimeFile(time) << '\n';
    return kExitOk;
}

std::string configState(const platform::Volume& v) {
    std::string path = (fs::path(v.mountPoint) / dc::kConfigFileName).string();
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0)
        return "none";
    if (!S_ISREG(st.st_mode) || st.st_size != static_cast<off_t>(dc::kImageSize))
        return "wrong size (" + std::to_string(st.st_size) + " bytes)";
    return dc::readConfigFile(path) ? "yes" : "not a configuration file";
}

int card(bool json) {
    auto volumes = platform::removableVolumes();
    if (json) {
        nlohmann::ordered_json arr = nlohmann::ordered_json::array();
        for (const auto& v : volumes) {
            arr.push_back({{"mountPoint", v.mountPoint},
                           {"device", v.device},
                           {"fsType", v.fsType},
                           {"label", v.label},
                           {"simulated", v.simulated},
                           {"config", configState(v)}});
        }
        std::cout << arr.dump(2) << '\n';
        return kExitOk;
    }
    if (volumes.empty()) {
        std::cout << "no removable volume\n";
        return kExitOk;
    }
    for (const auto& v : volumes) {
        std::cout << v.mountPoint << "  device=" << (v.device.empty() ? "-" : v.device)
                  << "  label=\"" << v.label << "\"  config=" << configState(v) << '\n';
    }
    return kExitOk;
}

const RegisterCommand kConfig([](CLI::App& app) -> std::function<int()> {
    auto* cmd =
        app.add_subcommand("config", "show, edit or create the camera's configuration file");
    cmd->require_subcommand(1);
    auto* show = cmd->add_subcommand("show", "print every field of config_K7x7.bin");
    auto* set = cmd->add_subcommand("set", "change fields with the settings dialog's checks");
    auto* defaults = cmd->add_subcommand("defaults", "write a factory-default configuration file");
    auto showPath = std::make_shared<std::string>();
    auto showJson = std::make_shared<bool>(false);
    show->add_option("PATH", *showPath, "the file or the card folder")->required();
    show->add_flag("--json", *showJson, "one JSON object keyed by the field names");
    auto setPath = std::make_shared<std::string>();
    auto assignments = std::make_shared<std::vector<std::string>>();
    set->add_option("PATH", *setPath, "the file or the card folder")->required();
    set->add_option("ASSIGNMENTS", *assignments, "name=value …")->required();
    auto outPath = std::make_shared<std::string>();
    defaults->add_option("OUT", *outPath, "the file or folder to write")->required();
    return [=] {
        if (show->parsed())
            return configShow(*showPath, *showJson);
        if (set->parsed())
            return configSet(*setPath, *assignments);
        return configDefaults(*outPath);
    };
});

const RegisterCommand kDrv([](CLI::App& app) -> std::function<int()> {
    auto* cmd = app.add_subcommand("drv", "list the driving-route records of a .drv file");
    auto file = std::make_shared<std::string>();
    auto csv = std::make_shared<std::string>();
    cmd->add_option("FILE", *file, "DrvInfo/orvik_000.drv or another record file")->required();
    cmd->add_option("--csv", *csv, "export the list as CSV (UTF-8) to this file");
    return [=] { return drv(*file, *csv); };
});

const RegisterCommand kTimefile([](CLI::App& app) -> std::function<int()> {
    auto* cmd = app.add_subcommand("timefile", "write timeset.cfg, which sets the camera's clock");
    auto dir = std::make_shared<std::string>();
    auto at = std::make_shared<std::string>();
    cmd->add_option("DIR", *dir, "the card folder (or the file to write)")->required();
    cmd->add_option("--at", *at, "\"YYYY-MM-DD hh:mm:ss\" (default: now, local time)");
    return [=] { return timefile(*dir, *at); };
});

const RegisterCommand kCard([](CLI::App& app) -> std::function<int()> {
    auto* cmd =
        app.add_subcommand("card", "list the removable volumes and their configuration files");
    auto json = std::make_shared<bool>(false);
    cmd->add_flag("--json", *json, "JSON array");
    return [=] { return card(*json); };
});

}  // namespace
}  // namespace orvik::cli
