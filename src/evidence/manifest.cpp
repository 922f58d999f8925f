#include "evidence/manifest.h"

#include <chrono>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <nlohmann/json.hpp>

#include "platform/sha256.h"

namespace orvik::evidence {

namespace {

using Json = nlohmann::ordered_json;

// Reading fields of a parsed document: each reports the first field that is missing or of the
// wrong type, so a damaged manifest says where.
class Reader {
  public:
    explicit Reader(const Json& j, std::string where) : j_(j), where_(std::move(where)) {}

    std::string text(const char* key, bool required = true) {
        const auto it = j_.find(key);
        if (it == j_.end() || it->is_null()) {
            if (required)
                fail(key, "is missing");
            return {};
        }
        if (!it->is_string()) {
            fail(key, "is not a text");
            return {};
        }
        return it->get<std::string>();
    }
    std::uint64_t size(const char* key) {
        const auto it = j_.find(key);
        if (it == j_.end() || !it->is_number_unsigned()) {
            fail(key, "is not a byte count");
            return 0;
        }
        return it->get<std::uint64_t>();
    }
    double number(const char* key) {
        const auto it = j_.find(key);
        if (it == j_.end() || !it->is_number() || !std::isfinite(it->get<double>())) {
            fail(key, "is not a number");
            return 0;
        }
        return it->get<double>();
    }
    bool flag(const char* key) {
        const auto it = j_.find(key);
        if (it == j_.end())
            return false;
        if (!it->is_boolean())
            fail(key, "is not true or false");
        return it->is_boolean() && it->get<bool>();
    }
    const Json* array(const char* key, bool required = true) {
        const auto it = j_.find(key);
        if (it == j_.end() && !required)
            return nullptr;
        if (it == j_.end() || !it->is_array()) {
            fail(key, "is not a list");
            return nullptr;
        }
        return &*it;
    }
    const Json* object(const char* key, bool required = true) {
        const auto it = j_.find(key);
        if ((it == j_.end() || it->is_null()) && !required)
            return nullptr;
        if (it == j_.end() || !it->is_object()) {
            fail(key, "is not an object");
            return nullptr;
        }
        return &*it;
    }
    std::string hash(const char* key) {
        std::string h = text(key);
        if (!h.empty() && !platform::digestFromHex(h))
            fail(key, "is not a SHA-256");
        return h;
    }
    void fail(const char* key, const char* what) {
        if (error_.empty())
            error_ = where_ + "." + key + " " + what;
    }
    const std::string& error() const { return error_; }
    void take(const Reader& inner) {
        if (error_.empty())
            error_ = inner.error_;
    }

  private:
    const Json& j_;
    std::string where_;
    std::string error_;
};

bool hasControlCharacter(std::string_view s) {
    for (char c : s) {
        if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F)
            return true;
    }
    return false;
}

}  // namespace

std::string SourceEntry::name() const {
    return std::filesystem::path(path).filename().string();
}

bool isPackageFileName(std::string_view name) {
    return !name.empty() && name != "." && name != ".." && name.size() <= 255 &&
           name.find('/') == std::string_view::npos && name.find('\\') == std::string_view::npos &&
           !hasControlCharacter(name);
}

std::string isoTimeText(std::chrono::sys_time<std::chrono::milliseconds> t, bool milliseconds) {
    using namespace std::chrono;
    const auto day = floor<days>(t);
    const year_month_day ymd{day};
    const hh_mm_ss hms{t - day};
    char buf[64];
    const int n = std::snprintf(buf, sizeof buf, "%04d-%02u-%02uT%02lld:%02lld:%02lld",
                                int(ymd.year()), unsigned(ymd.month()), unsigned(ymd.day()),
                                static_cast<long long>(hms.hours().count()),
                                static_cast<long long>(hms.minutes().count()),
                                static_cast<long long>(hms.seconds().count()));
    if (milliseconds && n > 0 && static_cast<std::size_t>(n) < sizeof buf)
        std::snprintf(buf + n, sizeof buf - static_cast<std::size_t>(n), ".%03lld",
                      static_cast<long long>(hms.subseconds().count()));
    return buf;
}

std::string isoUtcFromNanoseconds(std::int64_t ns) {
    using namespace std::chrono;
    return isoTimeText(sys_time<milliseconds>{duration_cast<milliseconds>(nanoseconds(ns))}, true) +
           "Z";
}

std::string toJson(const Manifest& m) {
    Json j;
    j["format"] = kManifestFormat;
    j["program"] = {{"name", m.programName}, {"version", m.programVersion}, {"command", m.command}};
    j["created"] = m.created;
    Json segments = Json::array();
    for (const RangeSegment& s : m.range.segments)
        segments.push_back(
            {{"path", s.path}, {"fromSeconds", s.fromSeconds}, {"toSeconds", s.toSeconds}});
    j["range"] = {{"source", m.range.source}, {"from", m.range.from},
                  {"to", m.range.to},         {"start", m.range.start},
                  {"end", m.range.end},       {"startUtc", m.range.startUtc},
                  {"endUtc", m.range.endUtc}, {"durationSeconds", m.range.durationSeconds},
                  {"segments", segments}};
    j["layout"] = m.layout;
    j["caption"] = m.caption;
    j["speedUnit"] = m.speedUnit;
    j["language"] = m.language;
    j["note"] = m.note;
    Json sources = Json::array();
    for (const SourceEntry& s : m.sources)
        sources.push_back({{"path", s.path},
                           {"channel", s.channel},
                           {"size", s.size},
                           {"modified", s.modified},
                           {"sha256", s.sha256}});
    j["sources"] = sources;
    if (m.cameraSettings) {
        Json values;
        for (const auto& [name, value] : m.cameraSettings->values)
            values[name] = value;
        j["cameraSettings"] = {{"path", m.cameraSettings->path},
                               {"sha256", m.cameraSettings->sha256},
                               {"values", values}};
    } else {
        j["cameraSettings"] = nullptr;
    }
    const auto position = [](const std::optional<LatLon>& p) {
        return p ? Json::array({p->latitude, p->longitude}) : Json();
    };
    Json impacts = Json::array();
    for (const ManifestImpact& i : m.facts.impacts)
        impacts.push_back({{"time", i.time},
                           {"recording", i.recording},
                           {"offsetSeconds", i.offsetSeconds},
                           {"changeG", {i.changeX, i.changeY, i.changeZ}},
                           {"strength", i.strength}});
    j["facts"] = {{"startPosition", position(m.facts.startPosition)},
                  {"endPosition", position(m.facts.endPosition)},
                  {"distanceKm", m.facts.distanceKm},
                  {"topSpeed", m.facts.topSpeed ? Json(*m.facts.topSpeed) : Json()},
                  {"speedUnit", m.facts.speedUnit},
                  {"impacts", impacts}};
    Json outputs = Json::array();
    for (const OutputEntry& o : m.outputs)
        outputs.push_back({{"name", o.name}, {"size", o.size}, {"sha256", o.sha256}});
    j["outputs"] = outputs;
    // Text that is not valid UTF-8 (a note typed in another encoding) is replaced, not refused.
    return j.dump(2, ' ', false, Json::error_handler_t::replace) + "\n";
}

Result<Manifest> parseManifest(std::string_view text) {
    const Json j = Json::parse(text, nullptr, false);
    if (j.is_discarded() || !j.is_object())
        return makeError("manifest.json is not JSON");
    Reader top(j, "manifest");
    if (top.text("format") != kManifestFormat)
        return makeError("manifest.json is not an evidence manifest of format " +
                         std::string(kManifestFormat));
    Manifest m;
    if (const Json* p = top.object("program")) {
        Reader r(*p, "program");
        m.programName = r.text("name");
        m.programVersion = r.text("version");
        if (const Json* c = r.array("command")) {
            for (const Json& word : *c) {
                if (!word.is_string()) {
                    r.fail("command", "holds a word that is not a text");
                    break;
                }
                m.command.push_back(word.get<std::string>());
            }
        }
        top.take(r);
    }
    m.created = top.text("created");
    if (const Json* g = top.object("range")) {
        Reader r(*g, "range");
        m.range.source = r.text("source");
        m.range.from = r.text("from");
        m.range.to = r.text("to");
        m.range.start = r.text("start", false);
        m.range.end = r.text("end", false);
        m.range.startUtc = r.text("startUtc", false);
        m.range.endUtc = r.text("endUtc", false);
        m.range.durationSeconds = r.number("durationSeconds");
        if (const Json* segs = r.array("segments")) {
            for (const Json& s : *segs) {
                if (!s.is_object()) {
                    r.fail("segments", "holds an entry that is not an object");
                    break;
                }
                Reader sr(s, "range.segments[]");
                m.range.segments.push_back(
                    {sr.text("path"), sr.number("fromSeconds"), sr.number("toSeconds")});
                r.take(sr);
            }
        }
        top.take(r);
    }
    m.layout = top.text("layout", false);
    m.caption = top.flag("caption");
    m.speedUnit = top.text("speedUnit", false);
    m.language = top.text("language", false);
    m.note = top.text("note", false);
    if (const Json* list = top.array("sources")) {
        for (const Json& s : *list) {
            if (!s.is_object()) {
                top.fail("sources", "holds an entry that is not an object");
                break;
            }
            Reader r(s, "sources[]");
            SourceEntry e;
            e.path = r.text("path");
            e.channel = r.text("channel", false);
            e.size = r.size("size");
            e.modified = r.text("modified", false);
            e.sha256 = r.hash("sha256");
            top.take(r);
            m.sources.push_back(std::move(e));
        }
    }
    if (const Json* c = top.object("cameraSettings", false)) {
        Reader r(*c, "cameraSettings");
        CameraSettingsEntry e;
        e.path = r.text("path");
        e.sha256 = r.hash("sha256");
        if (const Json* values = r.object("values")) {
            for (const auto& [name, value] : values->items())
                e.values.emplace_back(name, value.is_string() ? value.get<std::string>() : "");
        }
        top.take(r);
        m.cameraSettings = std::move(e);
    }
    // Facts are for reading programs; a manifest of an earlier build may lack them.
    if (const Json* f = top.object("facts", false)) {
        Reader r(*f, "facts");
        const auto position = [&r, f](const char* key) -> std::optional<LatLon> {
            const auto it = f->find(key);
            if (it == f->end() || it->is_null())
                return std::nullopt;
            if (!it->is_array() || it->size() != 2 || !(*it)[0].is_number() ||
                !(*it)[1].is_number() || !std::isfinite((*it)[0].get<double>()) ||
                !std::isfinite((*it)[1].get<double>())) {
                r.fail(key, "is not [latitude, longitude]");
                return std::nullopt;
            }
            return LatLon{(*it)[0].get<double>(), (*it)[1].get<double>()};
        };
        m.facts.startPosition = position("startPosition");
        m.facts.endPosition = position("endPosition");
        m.facts.distanceKm = r.number("distanceKm");
        if (const auto it = f->find("topSpeed"); it != f->end() && !it->is_null())
            m.facts.topSpeed = r.number("topSpeed");
        m.facts.speedUnit = r.text("speedUnit", false);
        if (const Json* list = r.array("impacts", false)) {
            for (const Json& i : *list) {
                if (!i.is_object()) {
                    r.fail("impacts", "holds an entry that is not an object");
                    break;
                }
                Reader ir(i, "facts.impacts[]");
                ManifestImpact e;
                e.time = ir.text("time", false);
                e.recording = ir.text("recording", false);
                e.offsetSeconds = ir.number("offsetSeconds");
                const auto g = i.find("changeG");
                if (g == i.end() || !g->is_array() || g->size() != 3) {
                    ir.fail("changeG", "is not [x, y, z]");
                } else {
                    double* axes[] = {&e.changeX, &e.changeY, &e.changeZ};
                    for (std::size_t k = 0; k < 3; ++k) {
                        if (!(*g)[k].is_number() || !std::isfinite((*g)[k].get<double>()))
                            ir.fail("changeG", "is not [x, y, z]");
                        else
                            *axes[k] = (*g)[k].get<double>();
                    }
                }
                e.strength = ir.number("strength");
                r.take(ir);
                m.facts.impacts.push_back(std::move(e));
            }
        }
        top.take(r);
    }
    if (const Json* list = top.array("outputs")) {
        for (const Json& o : *list) {
            if (!o.is_object()) {
                top.fail("outputs", "holds an entry that is not an object");
                break;
            }
            Reader r(o, "outputs[]");
            OutputEntry e;
            e.name = r.text("name");
            e.size = r.size("size");
            e.sha256 = r.hash("sha256");
            if (!e.name.empty() && !isPackageFileName(e.name))
                r.fail("name", "is not a plain file name");
            top.take(r);
            m.outputs.push_back(std::move(e));
        }
    }
    if (!top.error().empty())
        return makeError("manifest.json: " + top.error());
    return m;
}

std::string formatSums(const std::vector<SumLine>& lines) {
    std::string out;
    for (const SumLine& l : lines)
        out += l.sha256 + "  " + l.name + "\n";
    return out;
}

Result<std::vector<SumLine>> parseSums(std::string_view text) {
    std::vector<SumLine> lines;
    std::size_t number = 0;
    while (!text.empty()) {
        ++number;
        const std::size_t eol = text.find('\n');
        std::string_view line = text.substr(0, eol);
        text = eol == std::string_view::npos ? std::string_view{} : text.substr(eol + 1);
        if (!line.empty() && line.back() == '\r')
            line.remove_suffix(1);
        if (line.empty())
            continue;
        // "<64 hex digits><space><space or *><name>", as sha256sum writes it in text or binary
        // mode. Escaped names (a leading backslash) are never written by us and are refused.
        if (line.size() < 67 || line[64] != ' ' || (line[65] != ' ' && line[65] != '*') ||
            !platform::digestFromHex(line.substr(0, 64)) || !isPackageFileName(line.substr(66))) {
            return makeError("SHA256SUMS: line " + std::to_string(number) +
                             " is not \"<SHA-256>  <file name>\"");
        }
        SumLine l;
        l.sha256 = std::string(line.substr(0, 64));
        for (char& c : l.sha256)
            c = static_cast<char>(c >= 'A' && c <= 'F' ? c - 'A' + 'a' : c);
        l.name = std::string(line.substr(66));
        lines.push_back(std::move(l));
    }
    return lines;
}

}  // namespace orvik::evidence
