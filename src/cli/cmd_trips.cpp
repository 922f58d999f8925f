// orvik-cli trips: the card's recordings grouped into drives, as a table or as JSON (the
// README documents both; scripts depend on the JSON).
#include <unistd.h>

#include <cmath>
#include <cstdio>
#include <iostream>
#include <nlohmann/json.hpp>
#include <string>

#include "cli/command_registry.h"
#include "platform/store.h"
#include "trips/summary_cache.h"
#include "trips/trips.h"

namespace orvik::cli {
namespace {

using namespace orvik::trips;
using recordings::SpeedUnit;
using Json = nlohmann::ordered_json;

// Numbers rounded to what the data can tell: metres, milliseconds, tenths of a unit. Dividing
// last gives the double nearest the decimal, so the JSON shows no stray digits.
double rounded(double v, int decimals) {
    const double scale = std::pow(10.0, decimals);
    return std::round(v * scale) / scale;
}

std::string hms(double seconds) {
    const long long s = std::llround(std::max(0.0, seconds));
    char buf[32];
    std::snprintf(buf, sizeof buf, "%lld:%02lld:%02lld", s / 3600, s / 60 % 60, s % 60);
    return buf;
}

std::string fixed(double v, int decimals) {
    char buf[64];
    std::snprintf(buf, sizeof buf, "%.*f", decimals, v);
    return buf;
}

SpeedUnit unitOf(const Trip& trip, const std::string& choice) {
    if (choice == "km/h")
        return SpeedUnit::KilometresPerHour;
    if (choice == "mph")
        return SpeedUnit::MilesPerHour;
    return trip.recordedUnit();
}

Json tripJson(const Trip& trip, const std::string& unitChoice) {
    const SpeedUnit unit = unitOf(trip, unitChoice);
    Json j;
    j["start"] = isoLocalTime(trip.start);
    j["end"] = isoLocalTime(trip.end);
    Json paths = Json::array();
    for (const TripRecording& r : trip.recordings)
        paths.push_back(r.path);
    j["recordings"] = std::move(paths);
    j["distanceKm"] = rounded(trip.distanceKm, 3);
    j["durationSeconds"] = rounded(trip.durationSeconds(), 3);
    j["maxSpeed"] = rounded(trip.maxSpeedIn(unit), 1);
    j["speedUnit"] = std::string(recordings::speedUnitName(unit));
    Json events = Json::array();
    for (const TripEvent& e : trip.events) {
        Json ev;
        ev["kind"] = std::string(eventKindName(e.kind));
        ev["path"] = trip.recordings[e.recording].path;
        ev["offsetSeconds"] = rounded(e.offsetSeconds, 3);
        events.push_back(std::move(ev));
    }
    j["events"] = std::move(events);
    return j;
}

void printTable(std::ostream& out, const std::vector<Trip>& trips, const std::string& unitChoice) {
    char line[256];
    std::snprintf(line, sizeof line, "%-19s  %-19s  %8s  %10s  %11s  %-10s  %6s  %7s\n", "Start",
                  "End", "Duration", "Recordings", "Distance km", "Max speed", "Events", "Impacts");
    out << line;
    for (const Trip& t : trips) {
        const SpeedUnit unit = unitOf(t, unitChoice);
        std::size_t events = 0, impacts = 0;
        for (const TripEvent& e : t.events)
            ++(e.kind == EventKind::Event ? events : impacts);
        const std::string speed =
            fixed(t.maxSpeedIn(unit), 1) + " " + std::string(recordings::speedUnitName(unit));
        std::snprintf(line, sizeof line, "%-19s  %-19s  %8s  %10zu  %11s  %-10s  %6zu  %7zu\n",
                      isoLocalTime(t.start).c_str(), isoLocalTime(t.end).c_str(),
                      hms(t.durationSeconds()).c_str(), t.recordings.size(),
                      fixed(t.distanceKm, 3).c_str(), speed.c_str(), events, impacts);
        out << line;
    }
}

int runTrips(const std::string& dir, bool json, double gap, const std::string& unit) {
    TripOptions options;
    options.gapSeconds = gap;
    options.cacheFolder = platform::userCacheFolder();
    // Reading a big card for the first time takes a while: show how far it got, on a terminal.
    if (::isatty(STDERR_FILENO)) {
        options.progress = [](std::size_t done, std::size_t total) {
            if (done % 64 == 0 || done == total)
                std::fprintf(stderr, "\rreading recordings %zu/%zu", done, total);
            if (done == total)
                std::fputc('\n', stderr);
        };
    }
    TripScanReport report;
    auto trips = findTrips(dir, options, &report);
    if (!trips) {
        printError(trips.error());
        return kExitFailed;
    }
    if (!report.cacheError.empty())
        printError("warning: the summary cache was not saved: " + report.cacheError);
    if (json) {
        std::cout << '[';
        bool first = true;
        for (const Trip& t : *trips) {
            std::cout << (first ? "\n" : ",\n")
                      << tripJson(t, unit).dump(-1, ' ', false, Json::error_handler_t::replace);
            first = false;
        }
        std::cout << (first ? "]\n" : "\n]\n");
    } else {
        printTable(std::cout, *trips, unit);
    }
    std::cout.flush();
    if (!std::cout) {
        printError("cannot write the output");
        return kExitFailed;
    }
    return kExitOk;
}

const RegisterCommand kTrips([](CLI::App& app) -> std::function<int()> {
    auto* sub = app.add_subcommand("trips", "group the recordings of a card folder into trips");
    auto dir = std::make_shared<std::string>();
    auto json = std::make_shared<bool>(false);
    auto gap = std::make_shared<double>(kDefaultGapSeconds);
    auto unit = std::make_shared<std::string>();
    sub->add_option("DIR", *dir, "card or folder to scan (subfolders included)")->required();
    sub->add_flag("--json", *json, "one JSON array of trips instead of the table");
    sub->add_option("--gap", *gap,
                    "longest pause in seconds between two recordings of one trip (default 120)")
        ->check(secondsUpTo());
    sub->add_option("--unit", *unit, "speed unit of maxSpeed (default: as recorded)")
        ->check(CLI::IsMember({"km/h", "mph"}));
    return [dir, json, gap, unit] { return runTrips(*dir, *json, *gap, *unit); };
});

}  // namespace
}  // namespace orvik::cli
