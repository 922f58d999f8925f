// orvik-cli evidence: a package that hands a stretch of footage over with the hashes that show it
// was not altered (verify, its check, is in orvik-cli itself: cmd_verify.cpp).
#include <unistd.h>

#include <cmath>
#include <cstdio>
#include <iostream>
#include <memory>
#include <string>

extern "C" {
#include <libavutil/log.h>
}

#include "cli/command_registry.h"
#include "cli/media_commands.h"
#include "evidence/package.h"
#include "recordings/track_formats.h"

namespace orvik::cli {
namespace {

using namespace orvik::evidence;

struct EvidenceArgs {
    std::string source, from, to, out, layout, unit, lang, note;
    bool caption = false, force = false;
};

// One line on a terminal, rewritten as the work goes on; nothing when stderr is a file or pipe.
class TerminalProgress {
  public:
    TerminalProgress() : shown_(::isatty(STDERR_FILENO) == 1) {}
    ~TerminalProgress() { clear(); }
    void show(std::string_view stage, double done) {
        if (!shown_)
            return;
        const int percent = static_cast<int>(std::floor(done * 100));
        if (percent == last_ && stage == stage_)
            return;
        last_ = percent;
        stage_ = std::string(stage);
        std::fprintf(stderr, "\r\033[K%3d%%  %s…", percent, stage_.c_str());
        std::fflush(stderr);
        dirty_ = true;
    }
    void clear() {
        if (dirty_) {
            std::fprintf(stderr, "\r\033[K");
            std::fflush(stderr);
            dirty_ = false;
        }
    }

  private:
    bool shown_;
    bool dirty_ = false;
    int last_ = -1;
    std::string stage_;
};

int runEvidence(const EvidenceArgs& a) {
    av_log_set_level(AV_LOG_QUIET);  // failures come as our own one-line message
    PackageRequest rq;
    rq.source = a.source;
    rq.from = a.from;
    rq.to = a.to;
    rq.folder = a.out;
    if (!a.layout.empty())
        rq.layout = exporting::parseLayout(a.layout);
    rq.caption = a.caption;
    rq.unit = recordings::speedUnitFromName(a.unit);
    rq.language = a.lang.empty()   ? platform::language()
                  : a.lang == "ko" ? platform::Language::Korean
                                   : platform::Language::English;
    rq.note = a.note;
    rq.force = a.force;
    rq.programName = "orvik-cli";
    rq.programVersion = ORVIK_VERSION;
    rq.command = commandLine();
    TerminalProgress bar;
    rq.progress = [&bar](PackageStage stage, double done) {
        bar.show(stageName(stage), done);
        return true;
    };
    auto made = buildPackage(rq);
    bar.clear();
    if (!made) {
        printError(made.error());
        return kExitFailed;
    }
    std::cout << made->folder << '\n';
    for (const OutputEntry& o : made->manifest.outputs)
        std::cout << "  " << o.name << "  " << o.size << '\n';
    std::cout << "  " << kManifestName << "\n  " << kSumsName << '\n';
    std::cout << "report: " << made->reportPages << " pages, " << made->reportBytes << " bytes; "
              << made->manifest.sources.size() << " source recordings hashed\n";
    return kExitOk;
}

const RegisterCommand kEvidence([](CLI::App& app) -> std::function<int()> {
    auto* sub = app.add_subcommand("evidence", mediaCommandDescription("evidence"));
    auto a = std::make_shared<EvidenceArgs>();
    sub->add_option("SOURCE", a->source, "a recording (.mp4), or a card folder")->required();
    sub->add_option("--from", a->from,
                    "start: seconds into the recording, or the camera's local time "
                    "YYYY-MM-DDThh:mm:ss[.fff]")
        ->required();
    sub->add_option("--to", a->to, "end, as --from")->required();
    sub->add_option("--out", a->out, "the package folder to create")->required();
    sub->add_option("--layout", a->layout,
                    "front, rear, side-by-side or picture-in-picture (default: side-by-side "
                    "when the recording has its partner, else its own channel)")
        ->check(CLI::IsMember({"front", "rear", "side-by-side", "picture-in-picture"}));
    sub->add_flag("--caption", a->caption, "burn date and time, speed and position into the clip");
    sub->add_option("--unit", a->unit, "speeds in km/h or mph (default: as recorded)")
        ->check(CLI::IsMember({"km/h", "mph"}));
    sub->add_option("--lang", a->lang, "the report's language, en or ko (default: the session's)")
        ->check(CLI::IsMember({"en", "ko"}));
    sub->add_option("--note", a->note, "a note printed in the report as given");
    sub->add_flag("--force", a->force,
                  "use a folder that is not empty (files of the same names are replaced)");
    return [a] { return runEvidence(*a); };
});

}  // namespace
}  // namespace orvik::cli
