// orvik-cli library import|search|verify|reindex: the library of recordings kept on the user's
// disk. Hashing and SQLite only, so it stays in orvik-cli (no media libraries).
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cmath>
#include <csignal>
#include <cstdio>
#include <iostream>
#include <nlohmann/json.hpp>
#include <sstream>
#include <string>

#include "cli/command_registry.h"
#include "cli/media_commands.h"
#include "library/check.h"
#include "library/import.h"
#include "library/search.h"
#include "library/sqlite.h"

namespace orvik::cli {
namespace {

using namespace orvik::library;
using Json = nlohmann::ordered_json;
using Clock = std::chrono::steady_clock;

// Ctrl+C ends an import between two chunks, so nothing is left half written under a real name.
std::atomic<bool> gInterrupted{false};
constexpr int kExitInterrupted = 130;

void onInterrupt(int) {
    gInterrupted = true;
}

std::string sizeText(double bytes) {
    const char* units[] = {"B", "KB", "MB", "GB", "TB"};
    int u = 0;
    while (bytes >= 1000 && u < 4) {
        bytes /= 1000;
        ++u;
    }
    char text[32];
    std::snprintf(text, sizeof text, u == 0 ? "%.0f %s" : "%.1f %s", bytes, units[u]);
    return text;
}

std::string clockText(double seconds) {
    const long long s = std::llround(std::max(0.0, seconds));
    char text[32];
    std::snprintf(text, sizeof text, "%lld:%02lld:%02lld", s / 3600, s / 60 % 60, s % 60);
    return text;
}

// One line on a terminal's stderr, redrawn in place: files, bytes, rate and time left.
class TerminalProgress {
  public:
    TerminalProgress() : on_(::isatty(STDERR_FILENO) != 0), started_(Clock::now()) {}
    ~TerminalProgress() { done(); }
    void show(std::size_t filesDone, std::size_t files, std::uint64_t bytesDone,
              std::uint64_t bytes) {
        if (!on_)
            return;
        const double elapsed = std::chrono::duration<double>(Clock::now() - started_).count();
        const double rate = elapsed > 0.5 ? static_cast<double>(bytesDone) / elapsed : 0;
        std::string line = std::to_string(filesDone) + "/" + std::to_string(files) + " files, " +
                           sizeText(static_cast<double>(bytesDone)) + " of " +
                           sizeText(static_cast<double>(bytes));
        if (rate > 0)
            line += ", " + sizeText(rate) + "/s, " +
                    clockText(static_cast<double>(bytes - std::min(bytes, bytesDone)) / rate) +
                    " left";
        std::fprintf(stderr, "\r%s\033[K", line.c_str());
        std::fflush(stderr);
        shown_ = true;
    }
    void done() {
        if (shown_)
            std::fprintf(stderr, "\r\033[K");
        shown_ = false;
    }
    FileProgress callback() {
        return [this](std::size_t f, std::size_t n, std::uint64_t b, std::uint64_t t) {
            show(f, n, b, t);
        };
    }

  private:
    bool on_;
    bool shown_ = false;
    Clock::time_point started_;
};

std::string outcomeWord(FileOutcome o) {
    switch (o) {
        case FileOutcome::Imported:
            return "imported";
        case FileOutcome::Skipped:
            return "skipped";
        case FileOutcome::KeptBeside:
            return "kept beside";
        case FileOutcome::Failed:
            return "failed";
    }
    return "";
}

void tellRebuilt(const OpenReport& r) {
    if (r.rebuilt)
        std::cerr << "orvik-cli: the index was rebuilt from the folder (" << r.whyRebuilt
                  << "); the old file is kept as " << r.keptAside << '\n';
}

struct LibraryArgs {
    std::string library;
    bool json = false;
    // import
    std::string card;
    std::string only;
    // search
    std::string from, to, kind, near, bbox, unit = "km/h";
    double radius = 0;
    double minSpeed = -1;
};

std::string libraryOf(const LibraryArgs& a) {
    return a.library.empty() ? defaultLibraryFolder() : a.library;
}

int runImport(const LibraryArgs& a) {
    ImportOptions options;
    options.card = a.card;
    options.library = libraryOf(a);
    options.onlyEvents = a.only == "events";
    TerminalProgress progress;
    options.progress = [&progress](const ImportProgress& p) {
        progress.show(p.filesDone, p.files, p.bytesDone, p.bytes);
    };
    options.cancelled = [] { return gInterrupted.load(); };
    std::signal(SIGINT, onInterrupt);
    std::signal(SIGTERM, onInterrupt);
    auto report = importCard(options);
    progress.done();
    std::signal(SIGINT, SIG_DFL);
    std::signal(SIGTERM, SIG_DFL);
    if (!report) {
        printError(report.error());
        return kExitFailed;
    }
    tellRebuilt(report->index);
    const std::size_t failed = report->count(FileOutcome::Failed);
    if (a.json) {
        Json j;
        j["library"] = report->library;
        j["card"] = {{"path", a.card}, {"label", report->cardLabel}, {"uuid", report->cardUuid}};
        j["imported"] = report->count(FileOutcome::Imported);
        j["skipped"] = report->count(FileOutcome::Skipped);
        j["keptBeside"] = report->count(FileOutcome::KeptBeside);
        j["failed"] = failed;
        j["cancelled"] = report->cancelled;
        j["bytesCopied"] = report->bytesCopied;
        j["copySeconds"] = std::round(report->copySeconds * 1000) / 1000;
        j["readBackSeconds"] = std::round(report->readBackSeconds * 1000) / 1000;
        j["indexRebuilt"] = report->index.rebuilt;
        Json files = Json::array();
        for (const ImportedFile& f : report->files) {
            Json o = {
                {"source", f.source}, {"target", f.target}, {"outcome", outcomeWord(f.outcome)}};
            if (!f.error.empty())
                o["error"] = f.error;
            files.push_back(std::move(o));
        }
        j["files"] = std::move(files);
        std::cout << j.dump(2) << '\n';
    } else {
        for (const ImportedFile& f : report->files) {
            if (f.outcome == FileOutcome::KeptBeside)
                std::cerr << "kept beside: " << f.source << " has other bytes than the library's "
                          << "file of that name; kept as " << f.target << '\n';
            else if (f.outcome == FileOutcome::Failed)
                std::cerr << "failed: " << f.source << ": " << f.error << '\n';
        }
        std::cout << "imported " << report->count(FileOutcome::Imported) << ", skipped "
                  << report->count(FileOutcome::Skipped) << ", kept beside "
                  << report->count(FileOutcome::KeptBeside) << ", failed " << failed << " ("
                  << sizeText(static_cast<double>(report->bytesCopied)) << " copied in "
                  << std::fixed;
        std::cout.precision(1);
        std::cout << report->copySeconds << " s, read back in " << report->readBackSeconds
                  << " s) into " << report->library << '\n';
    }
    if (report->cancelled) {
        printError(
            "interrupted: nothing is left half copied; run the same command again to "
            "complete the import");
        return kExitInterrupted;
    }
    return failed > 0 ? kExitFailed : kExitOk;
}

bool parsePair(const std::string& text, std::vector<double>& out, std::size_t count) {
    std::stringstream in(text);
    std::string part;
    out.clear();
    while (std::getline(in, part, ',')) {
        char* end = nullptr;
        const double v = std::strtod(part.c_str(), &end);
        if (part.empty() || *end != '\0' || !std::isfinite(v))
            return false;
        out.push_back(v);
    }
    return out.size() == count;
}

bool validLatitude(double v) {
    return v >= -90 && v <= 90;
}
bool validLongitude(double v) {
    return v >= -180 && v <= 180;
}

// The query of the options, or a usage message.
std::variant<SearchQuery, std::string> queryOf(const LibraryArgs& a) {
    SearchQuery q;
    if (!a.from.empty() && !(q.from = parseSearchTime(a.from, false)))
        return "--from: a date YYYY-MM-DD or a camera time YYYY-MM-DDThh:mm:ss";
    if (!a.to.empty() && !(q.to = parseSearchTime(a.to, true)))
        return "--to: a date YYYY-MM-DD or a camera time YYYY-MM-DDThh:mm:ss";
    if (!a.kind.empty())
        q.kind = kindFromWord(a.kind);
    std::vector<double> v;
    if (!a.near.empty()) {
        if (!parsePair(a.near, v, 2) || !validLatitude(v[0]) || !validLongitude(v[1]))
            return "--near: LAT,LON in decimal degrees (south and west negative)";
        if (!(a.radius > 0 && a.radius <= 20'000'000))
            return "--near needs --radius METRES (above 0, at most 20000000)";
        q.near = GeoCircle{v[0], v[1], a.radius};
    } else if (a.radius > 0) {
        return "--radius goes with --near";
    }
    if (!a.bbox.empty()) {
        if (!parsePair(a.bbox, v, 4) || !validLatitude(v[0]) || !validLongitude(v[1]) ||
            !validLatitude(v[2]) || !validLongitude(v[3]) || v[0] > v[2])
            return "--bbox: SOUTH,WEST,NORTH,EAST in decimal degrees, south not above north";
        q.box = GeoBox{v[0], v[1], v[2], v[3]};
    }
    if (a.minSpeed >= 0)
        q.minSpeedKmh = a.unit == "mph" ? a.minSpeed * trips::kKmPerMile : a.minSpeed;
    return q;
}

int runSearch(const LibraryArgs& a) {
    auto parsed = queryOf(a);
    if (auto* why = std::get_if<std::string>(&parsed)) {
        printError(*why);
        return kExitUsage;
    }
    const SearchQuery& q = std::get<SearchQuery>(parsed);
    const std::string folder = libraryOf(a);
    LibrarySearchNotices notices;
    notices.opened = [](const OpenReport& opened) { tellRebuilt(opened); };
    notices.rebuilding = [](const std::string& why) {
        std::cerr << "orvik-cli: the index is damaged (" << why
                  << "); rebuilding it from the folder\n";
    };
    auto found = searchLibrary(folder, q, notices);
    if (!found) {
        printError(found.error());
        return kExitFailed;
    }
    const std::vector<SearchHit>& hits = *found;
    if (a.json) {
        Json list = Json::array();
        for (const SearchHit& h : hits) {
            Json o = {{"path", h.path},
                      {"name", h.name},
                      {"kind", std::string(kindWord(h.kind))},
                      {"start", h.start},
                      {"durationSeconds", std::round(h.durationSeconds * 1000) / 1000}};
            if (q.needsPositions())
                o["offsetSeconds"] = h.offsetSeconds
                                         ? Json(std::round(*h.offsetSeconds * 1000) / 1000)
                                         : Json(nullptr);
            list.push_back(std::move(o));
        }
        std::cout << list.dump(2) << '\n';
        return kExitOk;
    }
    char line[512];
    for (const SearchHit& h : hits) {
        // The first matching moment, in seconds into the recording.
        char at[32] = "";
        if (h.offsetSeconds)
            std::snprintf(at, sizeof at, "at %.1f s", *h.offsetSeconds);
        std::snprintf(line, sizeof line, "%-19s  %-6s  %8s  %10s  ", h.start.c_str(),
                      std::string(kindWord(h.kind)).c_str(), clockText(h.durationSeconds).c_str(),
                      at);
        std::cout << line << h.path << '\n';
    }
    std::cout << hits.size() << (hits.size() == 1 ? " recording\n" : " recordings\n");
    return kExitOk;
}

int runVerify(const LibraryArgs& a) {
    TerminalProgress progress;
    auto check = verifyLibrary(libraryOf(a), progress.callback());
    progress.done();
    if (!check) {
        printError(check.error());
        return kExitFailed;
    }
    tellRebuilt(check->index);
    for (const std::string& p : check->missing)
        std::cout << "missing: " << p << '\n';
    for (const std::string& p : check->changed)
        std::cout << "changed: " << p << '\n';
    for (const std::string& p : check->unindexed)
        std::cout << "not indexed: " << p << '\n';
    std::cout << check->intact << " intact, " << check->missing.size() << " missing, "
              << check->changed.size() << " changed, " << check->unindexed.size() << " not indexed"
              << (check->unindexed.empty() ? "" : " (library reindex adds them)") << '\n';
    return check->sound() ? kExitOk : kExitFailed;
}

int runReindex(const LibraryArgs& a) {
    TerminalProgress progress;
    auto report = reindexLibrary(libraryOf(a), progress.callback());
    progress.done();
    if (!report) {
        printError(report.error());
        return kExitFailed;
    }
    for (const std::string& p : report->problems)
        std::cerr << "not indexed: " << p << '\n';
    std::cout << "indexed " << report->recordings << " recordings"
              << (report->unreadable ? ", " + std::to_string(report->unreadable) + " unreadable"
                                     : std::string())
              << '\n';
    return report->unreadable ? kExitFailed : kExitOk;
}

void libraryOption(CLI::App* sub, LibraryArgs& a) {
    sub->add_option(
        "--library", a.library,
        "the library folder (default: $ORVIK_LIBRARY, else the videos folder + /Orvik)");
}

const RegisterCommand kLibrary([](CLI::App& app) -> std::function<int()> {
    auto* lib = app.add_subcommand("library", mediaCommandDescription("library"));
    lib->require_subcommand(1);
    auto a = std::make_shared<LibraryArgs>();
    auto chosen = std::make_shared<std::function<int()>>();

    auto* imp = lib->add_subcommand("import",
                                    "copy a card's recordings into the library, "
                                    "verified, and index them");
    imp->add_option("CARD", a->card, "the card folder")->required();
    libraryOption(imp, *a);
    imp->add_option("--only", a->only, "events: Event and User recordings and those with an impact")
        ->check(CLI::IsMember({"events"}));
    imp->add_flag("--json", a->json, "the outcome as JSON on stdout");
    imp->callback([a, chosen] { *chosen = [a] { return runImport(*a); }; });

    auto* find =
        lib->add_subcommand("search", "the library's recordings that match, in time order");
    libraryOption(find, *a);
    find->add_option("--from", a->from, "from this day (or camera time YYYY-MM-DDThh:mm:ss) on");
    find->add_option("--to", a->to, "up to this day (or camera time), included");
    find->add_option("--kind", a->kind, "always, event, user or park")
        ->check(CLI::IsMember({"always", "event", "user", "park"}));
    find->add_option("--near", a->near, "LAT,LON: recordings that passed within --radius");
    find->add_option("--radius", a->radius, "METRES around --near");
    find->add_option("--bbox", a->bbox, "SOUTH,WEST,NORTH,EAST: recordings that passed inside");
    find->add_option("--min-speed", a->minSpeed, "recordings that reached this speed")
        ->check(CLI::Range(0.0, 1000.0));
    find->add_option("--unit", a->unit, "the unit of --min-speed: km/h (default) or mph")
        ->check(CLI::IsMember({"km/h", "mph"}));
    find->add_flag("--json", a->json, "one JSON array of the recordings");
    find->callback([a, chosen] { *chosen = [a] { return runSearch(*a); }; });

    auto* verify = lib->add_subcommand(
        "verify", "hash every recording again: missing, changed and unindexed files");
    libraryOption(verify, *a);
    verify->callback([a, chosen] { *chosen = [a] { return runVerify(*a); }; });

    auto* reindex = lib->add_subcommand("reindex", "build the index again from the folder");
    libraryOption(reindex, *a);
    reindex->callback([a, chosen] { *chosen = [a] { return runReindex(*a); }; });

    return [chosen] { return *chosen ? (*chosen)() : kExitUsage; };
});

}  // namespace
}  // namespace orvik::cli
