#pragma once
// The package's report: an A4 PDF in the interface language, drawn with cairo and laid out with
// pango (Korean from the Noto CJK fonts), so it needs no window system and no map tiles.
#include <optional>
#include <string>
#include <vector>

#include "evidence/manifest.h"
#include "evidence/stretch.h"
#include "evidence/stretch_facts.h"
#include "platform/result.h"
#include "platform/strings.h"

namespace orvik::evidence {

struct ReportStill {
    std::string file;     // the JPEG, embedded as it is (no second compression)
    std::string moment;   // "start", "impact", "end"
    std::string channel;  // "front", "rear"
    double stretchSeconds = 0;
    std::optional<LocalTime> local;
    int width = 0, height = 0;
};

struct ReportSetting {
    std::string label;
    std::string value;
};

struct ReportContent {
    platform::Language language = platform::Language::English;
    const Manifest* manifest = nullptr;  // program, command, time, note, sources, package files
    const Stretch* stretch = nullptr;
    const StretchFacts* facts = nullptr;
    std::vector<ReportStill> stills;
    std::vector<ReportSetting> settings;  // empty when no configuration file was found
};

struct RenderedReport {
    std::string pdf;
    int pages = 0;
};

Result<RenderedReport> renderReport(const ReportContent& content);

// The text of `id` in `language` with %1, %2 … replaced by the arguments.
std::string reportText(platform::Language language, int id,
                       const std::vector<std::string>& args = {});

}  // namespace orvik::evidence
