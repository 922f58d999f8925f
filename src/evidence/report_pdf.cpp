// The report: pages laid out top to bottom, a section moving to the next page when it does
// not fit. Drawn twice: once to count the pages ("page 2 of 4"), once for the file.
#include "evidence/report_pdf.h"

#include <cairo-pdf.h>

#include <cmath>
#include <filesystem>
#include <memory>

#include "evidence/report_canvas.h"
#include "platform/readable_file.h"
#include "recordings/track_formats.h"
#include "strings/string_ids.h"
#include "trips/trips.h"

namespace orvik::evidence {

namespace {

using namespace report;
using platform::Language;

// A4 in points.
constexpr double kPageWidth = 595.2756;
constexpr double kPageHeight = 841.8898;
constexpr double kMargin = 48;
constexpr double kTop = 46;
constexpr double kBottom = 52;  // the footer sits below this
constexpr double kContentWidth = kPageWidth - 2 * kMargin;
constexpr double kLabelWidth = 118;
// Stills are embedded as they are; anything beyond this is not a still of ours.
constexpr std::size_t kMaxStillBytes = 64u << 20;

struct SurfaceDeleter {
    void operator()(cairo_surface_t* s) const { cairo_surface_destroy(s); }
};
struct ContextDeleter {
    void operator()(cairo_t* c) const { cairo_destroy(c); }
};
using SurfacePtr = std::unique_ptr<cairo_surface_t, SurfaceDeleter>;
using ContextPtr = std::unique_ptr<cairo_t, ContextDeleter>;

cairo_status_t appendTo(void* closure, const unsigned char* data, unsigned int length) {
    if (closure)
        static_cast<std::string*>(closure)->append(reinterpret_cast<const char*>(data), length);
    return CAIRO_STATUS_SUCCESS;
}

std::string localText(LocalTime t) {
    std::string s = isoLocalTimeMs(t);
    s[10] = ' ';
    return s;
}

std::string utcText(const recordings::GpsTime& t) {
    std::string s = recordings::isoTime(t).value_or("");
    if (s.size() > 10) {
        s[10] = ' ';
        s.pop_back();  // the "Z": the label says UTC
    }
    return s;
}

std::string degreesText(const recordings::GeoPosition& p) {
    return fixed(p.latitude.value(), 7) + ", " + fixed(p.longitude.value(), 7);
}

std::string signedG(double v) {
    const std::string s = fixed(v, 2);
    return s[0] == '-' ? "−" + s.substr(1) : "+" + s;
}

class ReportWriter {
  public:
    ReportWriter(const ReportContent& content, cairo_t* cr, int totalPages)
        : c_(content),
          lang_(content.language),
          canvas_(cr, content.language),
          cr_(cr),
          total_(totalPages) {}

    void run() {
        y_ = kTop;
        header();
        summary();
        route();
        curves();
        impacts();
        stills();
        settings();
        sources();
        files();
        made();
        finishPage();
    }
    int pages() const { return page_; }

  private:
    std::string t(int id, const std::vector<std::string>& args = {}) const {
        return reportText(lang_, id, args);
    }

    void finishPage() {
        const std::string footer =
            t(strings::evidence::kReportTitle) + "  ·  " + c_.manifest->created + "  ·  " +
            t(strings::evidence::kPageOf,
              {std::to_string(page_), std::to_string(std::max(total_, page_))});
        canvas_.text(kPageWidth / 2, kPageHeight - 34, 0, footer, Font::Small, kGrey,
                     Align::Centre);
        cairo_show_page(cr_);
    }
    void newPage() {
        finishPage();
        ++page_;
        y_ = kTop;
    }
    void ensure(double height) {
        if (y_ + height > kPageHeight - kBottom && y_ > kTop + 1)
            newPage();
    }
    void heading(int id, double following) {
        y_ += 10;
        ensure(24 + following);
        y_ += canvas_.text(kMargin, y_, kContentWidth, t(id), Font::Heading);
        cairo_set_line_width(cr_, 0.6);
        canvas_.setColour(kLight);
        cairo_move_to(cr_, kMargin, y_ + 2);
        cairo_line_to(cr_, kMargin + kContentWidth, y_ + 2);
        cairo_stroke(cr_);
        y_ += 7;
    }
    // A label and its value, the value wrapped in the rest of the line and going on over page
    // breaks (a long note or command is printed whole).
    void row(const std::string& label, const std::string& value, Font font = Font::Body) {
        const double w = kContentWidth - kLabelWidth;
        const double labelHeight = canvas_.heightOf(kLabelWidth - 6, label, Font::Bold);
        ensure(std::max(labelHeight, 12.0) + 3);
        const double top = y_;
        canvas_.text(kMargin, y_, kLabelWidth - 6, label, Font::Bold);
        const int firstPage = page_;
        canvas_.flow(kMargin + kLabelWidth, w, value, font, [this](double lineHeight) {
            ensure(lineHeight);
            const double at = y_;
            y_ += lineHeight;
            return at;
        });
        if (page_ == firstPage)
            y_ = std::max(y_, top + labelHeight);
        y_ += 3;
    }

    void header() {
        y_ += canvas_.text(kMargin, y_, kContentWidth, t(strings::evidence::kReportTitle),
                           Font::Title);
        const Manifest& m = *c_.manifest;
        y_ += canvas_.text(
                  kMargin, y_ + 2, kContentWidth,
                  t(strings::evidence::kMadeWithOn, {m.programName, m.programVersion, m.created}),
                  Font::Small, kGrey) +
              4;
    }

    std::string momentText(std::optional<LocalTime> local,
                           const std::optional<recordings::GpsTime>& utc) const {
        std::string s =
            local ? t(strings::evidence::kCameraTime, {localText(*local)}) : std::string();
        if (utc) {
            if (!s.empty())
                s += "\n";
            s += t(strings::evidence::kReceiverUtc, {utcText(*utc)});
        }
        return s.empty() ? "–" : s;
    }

    std::string unitName() const { return std::string(recordings::speedUnitName(c_.facts->unit)); }

    std::string impactText(const ImpactFact& f) const {
        const std::string when = f.local ? clockText(*f.local) : "+" + fixed(f.seconds, 1) + " s";
        return t(strings::evidence::kImpactAxes,
                 {when, signedG(f.peak.departureG[0]), signedG(f.peak.departureG[1]),
                  signedG(f.peak.departureG[2])});
    }

    void summary() {
        const Stretch& s = *c_.stretch;
        const StretchFacts& f = *c_.facts;
        heading(strings::evidence::kTheStretch, 60);
        std::string names;
        for (const StretchSegment& seg : s.segments) {
            if (!names.empty())
                names += "\n";
            names += std::filesystem::path(seg.path).filename().string() + "  (" +
                     fixed(seg.fromSeconds, 3) + "–" + fixed(seg.toSeconds, 3) + " s)";
        }
        row(t(strings::evidence::kRecording), names);
        row(t(strings::evidence::kStart), momentText(s.start(), f.startUtc));
        row(t(strings::evidence::kEnd), momentText(s.end(), f.endUtc));
        row(t(strings::evidence::kDuration), fixed(s.durationSeconds(), 3) + " s");
        row(t(strings::evidence::kStartPosition),
            f.startPosition ? degreesText(*f.startPosition) : "–");
        row(t(strings::evidence::kEndPosition), f.endPosition ? degreesText(*f.endPosition) : "–");
        row(t(strings::evidence::kDistance), fixed(f.distanceKm, 3) + " km");
        if (f.topSpeed) {
            const auto at = s.start() ? clockText(trips::plusSeconds(*s.start(), f.topSpeedSeconds))
                                      : "+" + fixed(f.topSpeedSeconds, 1) + " s";
            row(t(strings::evidence::kTopSpeed), fixed(*f.topSpeed, 1) + " " + unitName() + "  " +
                                                     t(strings::evidence::kAtMoment, {at}));
        } else {
            row(t(strings::evidence::kTopSpeed), "–");
        }
        if (f.impacts.empty())
            row(t(strings::evidence::kImpacts), t(strings::evidence::kNoneInStretch));
        else
            row(t(strings::evidence::kImpacts),
                t(strings::evidence::kImpactsStrongest,
                  {std::to_string(f.impacts.size()), impactText(f.impacts[*f.strongest])}));
        if (!c_.manifest->note.empty())
            row(t(strings::evidence::kNote), c_.manifest->note);
    }

    void route() {
        const double h = 300;
        heading(strings::evidence::kRoute, h);
        drawRoute(canvas_, {kMargin, y_, kContentWidth, h}, *c_.facts);
        y_ += h + 4;
    }

    void curves() {
        const StretchFacts& f = *c_.facts;
        std::vector<double> marks;
        for (const ImpactFact& i : f.impacts)
            marks.push_back(i.seconds);
        const double h = 150;
        const double duration = c_.stretch->durationSeconds();
        heading(strings::evidence::kSpeed, h);
        drawCurves(canvas_, {kMargin, y_, kContentWidth, h},
                   {Curve{&f.speed, kSpeedColour, t(strings::evidence::kSpeed)}}, duration, marks,
                   c_.stretch->start(), unitName(), true);
        y_ += h + 4;
        heading(strings::evidence::kGSensor, h);
        drawCurves(
            canvas_, {kMargin, y_, kContentWidth, h},
            {Curve{&f.accel[0], kAxisColours[0], "X"}, Curve{&f.accel[1], kAxisColours[1], "Y"},
             Curve{&f.accel[2], kAxisColours[2], "Z"}},
            duration, marks, c_.stretch->start(), "g", false);
        y_ += h + 4;
    }

    void impacts() {
        const StretchFacts& f = *c_.facts;
        if (f.impacts.empty())
            return;
        heading(strings::evidence::kImpacts, 30);
        const double cols[] = {0, 18, 236, 380};
        const auto line = [&](const std::vector<std::string>& cells, Font font) {
            ensure(12);
            double h = 0;
            for (std::size_t i = 0; i < cells.size(); ++i)
                h = std::max(h, canvas_.text(kMargin + cols[i], y_,
                                             (i + 1 < cells.size() ? cols[i + 1] : kContentWidth) -
                                                 cols[i] - 6,
                                             cells[i], font));
            y_ += h + 2;
        };
        line({"#", t(strings::evidence::kTime), t(strings::evidence::kChangeFromRest),
              t(strings::evidence::kStrength) + " (" + t(strings::evidence::kTimesThreshold) + ")"},
             Font::Bold);
        for (std::size_t i = 0; i < f.impacts.size(); ++i) {
            const ImpactFact& fact = f.impacts[i];
            const std::string name =
                std::filesystem::path(c_.stretch->segments[fact.segment].path).filename().string();
            const std::string when =
                (fact.local ? localText(*fact.local) + "\n" : std::string()) +
                t(strings::evidence::kSecondsInto, {fixed(fact.offsetSeconds, 2), name});
            line({std::to_string(i + 1), when,
                  "X " + signedG(fact.peak.departureG[0]) + "   Y " +
                      signedG(fact.peak.departureG[1]) + "   Z " + signedG(fact.peak.departureG[2]),
                  fixed(fact.peak.strength, 2)},
                 Font::Body);
        }
    }

    // One still, embedded as the JPEG it is: the PDF carries the file's own bytes.
    void image(const ReportStill& still, double x, double y, double w, double h) {
        auto bytes = platform::readFileLimited(still.file, kMaxStillBytes);
        if (!bytes || still.width <= 0 || still.height <= 0) {
            canvas_.frame({x, y, w, h}, {0.95, 0.95, 0.95}, kLight);
            return;
        }
        SurfacePtr surface(
            cairo_image_surface_create(CAIRO_FORMAT_RGB24, still.width, still.height));
        auto* copy = new std::string(std::move(*bytes));
        cairo_surface_set_mime_data(
            surface.get(), CAIRO_MIME_TYPE_JPEG,
            reinterpret_cast<const unsigned char*>(copy->data()), copy->size(),
            [](void* p) { delete static_cast<std::string*>(p); }, copy);
        cairo_save(cr_);
        cairo_translate(cr_, x, y);
        cairo_scale(cr_, w / still.width, h / still.height);
        cairo_set_source_surface(cr_, surface.get(), 0, 0);
        cairo_paint(cr_);
        cairo_restore(cr_);
        cairo_rectangle(cr_, x, y, w, h);
        canvas_.setColour(kLight);
        cairo_set_line_width(cr_, 0.6);
        cairo_stroke(cr_);
    }

    void stills() {
        if (c_.stills.empty())
            return;
        const double gap = 10;
        const double cell = (kContentWidth - gap) / 2;
        bool first = true;
        for (const char* moment : {"start", "impact", "end"}) {
            std::vector<const ReportStill*> row;
            for (const ReportStill& s : c_.stills) {
                if (s.moment == moment)
                    row.push_back(&s);
            }
            if (row.empty())
                continue;
            double h = 0;
            for (const ReportStill* s : row)
                h = std::max(h, cell * s->height / std::max(1, s->width));
            if (first)
                heading(strings::evidence::kStills, h + 16);
            first = false;
            ensure(h + 18);
            const ReportStill& lead = *row.front();
            const int label = std::string(moment) == "start"    ? strings::evidence::kStart
                              : std::string(moment) == "impact" ? strings::evidence::kImpact
                                                                : strings::evidence::kEnd;
            const std::string when =
                lead.local ? localText(*lead.local) : "+" + fixed(lead.stretchSeconds, 3) + " s";
            y_ +=
                canvas_.text(kMargin, y_, kContentWidth, t(label) + "  ·  " + when, Font::Bold) + 2;
            double x = kMargin;
            for (const ReportStill* s : row) {
                const double ih = cell * s->height / std::max(1, s->width);
                image(*s, x, y_, cell, ih);
                canvas_.text(
                    x, y_ + ih + 1, cell,
                    t(s->channel == "rear" ? strings::evidence::kRear : strings::evidence::kFront) +
                        "  ·  " + std::filesystem::path(s->file).filename().string(),
                    Font::Small, kGrey);
                x += cell + gap;
            }
            y_ += h + 14;
        }
    }

    void settings() {
        heading(strings::evidence::kCameraSettings, 30);
        if (c_.settings.empty()) {
            y_ += canvas_.text(kMargin, y_, kContentWidth, t(strings::evidence::kNoConfiguration),
                               Font::Body) +
                  3;
            return;
        }
        for (const ReportSetting& s : c_.settings)
            row(s.label, s.value);
    }

    // Name, size and SHA-256 on one line, the hash in a fixed-width font so it reads (and is
    // found by text extraction) as one word.
    void hashLine(const std::string& name, std::uint64_t size, const std::string& sha256,
                  const std::string& below) {
        const double nameW = 160, sizeW = 64;
        const double h = std::max(canvas_.heightOf(nameW - 6, name, Font::Body), 10.0);
        const double hb = below.empty() ? 0 : canvas_.heightOf(kContentWidth, below, Font::Small);
        ensure(h + hb + 4);
        canvas_.text(kMargin, y_, nameW - 6, name, Font::Body);
        canvas_.text(kMargin + nameW + sizeW - 8, y_, 0, std::to_string(size), Font::Body, kBlack,
                     Align::Right);
        canvas_.text(kMargin + nameW + sizeW, y_ + 1, 0, sha256, Font::Mono);
        y_ += h;
        if (!below.empty())
            y_ += canvas_.text(kMargin + 8, y_, kContentWidth - 8, below, Font::Small, kGrey);
        y_ += 4;
    }
    void hashHeader() {
        ensure(14);
        canvas_.text(kMargin, y_, 0, t(strings::evidence::kName), Font::Bold);
        canvas_.text(kMargin + 160 + 64 - 8, y_, 0, t(strings::evidence::kBytes), Font::Bold,
                     kBlack, Align::Right);
        canvas_.text(kMargin + 160 + 64, y_, 0, t(strings::evidence::kSha256), Font::Bold);
        y_ += 13;
    }

    void sources() {
        heading(strings::evidence::kSourceRecordings, 40);
        hashHeader();
        for (const SourceEntry& s : c_.manifest->sources) {
            const std::string channel =
                t(s.channel == "rear" ? strings::evidence::kRear : strings::evidence::kFront);
            hashLine(s.name(), s.size, s.sha256,
                     t(strings::evidence::kChannelModified, {channel, s.modified}) + "\n" + s.path);
        }
    }

    void files() {
        heading(strings::evidence::kPackageFiles, 40);
        hashHeader();
        for (const OutputEntry& o : c_.manifest->outputs)
            hashLine(o.name, o.size, o.sha256, "");
        y_ += 2;
        ensure(24);
        y_ += canvas_.text(kMargin, y_, kContentWidth, t(strings::evidence::kCoveredBySums),
                           Font::Small, kGrey) +
              2;
    }

    void made() {
        const Manifest& m = *c_.manifest;
        heading(strings::evidence::kMadeWith, 40);
        row(t(strings::evidence::kMadeWith), m.programName + " " + m.programVersion);
        std::string command;
        for (const std::string& word : m.command) {
            const bool plain =
                !word.empty() && word.find_first_of(" \t\n'\"\\$`") == std::string::npos;
            command += (command.empty() ? "" : " ") + (plain ? word : "'" + word + "'");
        }
        row(t(strings::evidence::kCommand), command, Font::Mono);
        row(t(strings::evidence::kCreated), m.created);
    }

    const ReportContent& c_;
    Language lang_;
    Canvas canvas_;
    cairo_t* cr_;
    int total_;
    int page_ = 1;
    double y_ = kTop;
};

Result<RenderedReport> renderPass(const ReportContent& content, int totalPages, bool keep) {
    RenderedReport out;
    SurfacePtr surface(cairo_pdf_surface_create_for_stream(appendTo, keep ? &out.pdf : nullptr,
                                                           kPageWidth, kPageHeight));
    if (cairo_surface_status(surface.get()) != CAIRO_STATUS_SUCCESS)
        return makeError("cannot start the report: " +
                         std::string(cairo_status_to_string(cairo_surface_status(surface.get()))));
    const Manifest& m = *content.manifest;
    cairo_pdf_surface_restrict_to_version(surface.get(), CAIRO_PDF_VERSION_1_5);
    cairo_pdf_surface_set_metadata(
        surface.get(), CAIRO_PDF_METADATA_TITLE,
        platform::text(strings::evidence::kReportTitle, content.language).c_str());
    cairo_pdf_surface_set_metadata(surface.get(), CAIRO_PDF_METADATA_CREATOR,
                                   (m.programName + " " + m.programVersion).c_str());
    {
        ContextPtr cr(cairo_create(surface.get()));
        ReportWriter writer(content, cr.get(), totalPages);
        writer.run();
        out.pages = writer.pages();
        if (cairo_status(cr.get()) != CAIRO_STATUS_SUCCESS)
            return makeError("cannot draw the report: " +
                             std::string(cairo_status_to_string(cairo_status(cr.get()))));
    }
    cairo_surface_finish(surface.get());
    if (cairo_surface_status(surface.get()) != CAIRO_STATUS_SUCCESS)
        return makeError("cannot write the report: " +
                         std::string(cairo_status_to_string(cairo_surface_status(surface.get()))));
    return out;
}

}  // namespace

std::string reportText(Language language, int id, const std::vector<std::string>& args) {
    const std::string& pattern = platform::text(id, language);
    std::string out;
    out.reserve(pattern.size());
    for (std::size_t i = 0; i < pattern.size(); ++i) {
        if (pattern[i] == '%' && i + 1 < pattern.size() && pattern[i + 1] >= '1' &&
            pattern[i + 1] <= '9') {
            const std::size_t k = static_cast<std::size_t>(pattern[i + 1] - '1');
            if (k < args.size())
                out += args[k];
            ++i;
        } else {
            out += pattern[i];
        }
    }
    return out;
}

Result<RenderedReport> renderReport(const ReportContent& content) {
    if (!content.manifest || !content.stretch || !content.facts)
        return makeError("the report has nothing to show");
    auto counted = renderPass(content, 0, false);
    if (!counted)
        return counted;
    return renderPass(content, counted->pages, true);
}

}  // namespace orvik::evidence
