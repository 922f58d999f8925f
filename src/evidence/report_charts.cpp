// The report's drawing primitives and its two pictures made from the telemetry.
#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <numbers>

#include "evidence/report_canvas.h"
#include "strings/string_ids.h"
#include "trips/trips.h"

namespace orvik::evidence::report {

namespace {

constexpr double kMetresPerDegree = 6371008.8 * std::numbers::pi / 180.0;
// A car standing still must not zoom the route into a dot the size of the page.
constexpr double kLeastRouteSpanMetres = 60;

const char* familyOf(platform::Language language) {
    // Noto CJK carries Hangul and Latin; DejaVu reads best for English. Pango falls back per
    // character, so a Korean note in an English report still shows.
    return language == platform::Language::Korean ? "Noto Sans CJK KR" : "DejaVu Sans";
}

// 1, 2 or 5 times a power of ten, the smallest at or above `raw`.
double niceStep(double raw) {
    if (!(raw > 0) || !std::isfinite(raw))
        return 1;
    const double power = std::pow(10.0, std::floor(std::log10(raw)));
    for (double m : {1.0, 2.0, 5.0, 10.0}) {
        if (m * power >= raw * (1 - 1e-9))
            return m * power;
    }
    return 10 * power;
}

int decimalsFor(double step) {
    return step >= 1 ? 0 : std::min(3, static_cast<int>(std::ceil(-std::log10(step) - 1e-9)));
}

void marker(cairo_t* cr, double x, double y, int shape, Colour c) {
    cairo_set_source_rgb(cr, c.r, c.g, c.b);
    switch (shape) {
        case 0:
            cairo_arc(cr, x, y, 4, 0, 2 * std::numbers::pi);
            break;
        case 1:
            cairo_rectangle(cr, x - 3.5, y - 3.5, 7, 7);
            break;
        default:
            cairo_move_to(cr, x, y - 5);
            cairo_line_to(cr, x + 4.5, y + 3.5);
            cairo_line_to(cr, x - 4.5, y + 3.5);
            cairo_close_path(cr);
    }
    cairo_fill_preserve(cr);
    cairo_set_source_rgb(cr, 1, 1, 1);
    cairo_set_line_width(cr, 1);
    cairo_stroke(cr);
}

constexpr Colour kStartColour{0.10, 0.55, 0.20};
constexpr Colour kEndColour{0.10, 0.10, 0.10};

}  // namespace

std::string fixed(double v, int decimals) {
    if (!std::isfinite(v))
        return "–";
    char buf[64];
    auto [end, ec] = std::to_chars(buf, buf + sizeof buf, v, std::chars_format::fixed, decimals);
    std::string s = ec == std::errc{} ? std::string(buf, end) : std::string("–");
    // "-0.00" reads as a value below zero that is not there.
    if (s.size() > 1 && s[0] == '-' && s.find_first_not_of("-0.") == std::string::npos)
        s.erase(0, 1);
    return s;
}

std::string clockText(LocalTime t) {
    using namespace std::chrono;
    const auto secs = floor<seconds>(t);
    const hh_mm_ss hms{secs - floor<days>(secs)};
    char buf[48];
    std::snprintf(buf, sizeof buf, "%02lld:%02lld:%02lld",
                  static_cast<long long>(hms.hours().count()),
                  static_cast<long long>(hms.minutes().count()),
                  static_cast<long long>(hms.seconds().count()));
    return buf;
}

Canvas::Canvas(cairo_t* cr, platform::Language language) : cr_(cr), language_(language) {
    layout_ = pango_cairo_create_layout(cr_);
    // Vector output: outlines as designed, no snapping to a screen's pixel grid.
    cairo_font_options_t* options = cairo_font_options_create();
    cairo_font_options_set_hint_style(options, CAIRO_HINT_STYLE_NONE);
    cairo_font_options_set_hint_metrics(options, CAIRO_HINT_METRICS_OFF);
    pango_cairo_context_set_font_options(pango_layout_get_context(layout_), options);
    cairo_font_options_destroy(options);
    pango_layout_context_changed(layout_);

    const std::string family = familyOf(language);
    const auto make = [&](const char* fam, double points, bool bold) {
        PangoFontDescription* d = pango_font_description_new();
        pango_font_description_set_family(d, fam);
        pango_font_description_set_absolute_size(d, points * PANGO_SCALE);
        pango_font_description_set_weight(d, bold ? PANGO_WEIGHT_BOLD : PANGO_WEIGHT_NORMAL);
        return d;
    };
    fonts_[static_cast<int>(Font::Title)] = make(family.c_str(), 18, true);
    fonts_[static_cast<int>(Font::Heading)] = make(family.c_str(), 11.5, true);
    fonts_[static_cast<int>(Font::Body)] = make(family.c_str(), 8.5, false);
    fonts_[static_cast<int>(Font::Bold)] = make(family.c_str(), 8.5, true);
    fonts_[static_cast<int>(Font::Small)] = make(family.c_str(), 7, false);
    fonts_[static_cast<int>(Font::Mono)] = make("DejaVu Sans Mono", 6.6, false);
}

Canvas::~Canvas() {
    for (PangoFontDescription* d : fonts_)
        pango_font_description_free(d);
    g_object_unref(layout_);
}

void Canvas::prepare(double width, std::string_view text, Font font, Align align) {
    pango_layout_set_font_description(layout_, fonts_[static_cast<int>(font)]);
    pango_layout_set_width(layout_, width > 0 ? static_cast<int>(width * PANGO_SCALE) : -1);
    pango_layout_set_wrap(layout_, PANGO_WRAP_WORD_CHAR);
    pango_layout_set_alignment(layout_, align == Align::Centre  ? PANGO_ALIGN_CENTER
                                        : align == Align::Right ? PANGO_ALIGN_RIGHT
                                                                : PANGO_ALIGN_LEFT);
    // A note typed in another encoding must not break the layout: invalid bytes become U+FFFD.
    if (!g_utf8_validate(text.data(), static_cast<gssize>(text.size()), nullptr)) {
        gchar* valid = g_utf8_make_valid(text.data(), static_cast<gssize>(text.size()));
        pango_layout_set_text(layout_, valid, -1);
        g_free(valid);
        return;
    }
    pango_layout_set_text(layout_, text.data(), static_cast<int>(text.size()));
}

double Canvas::heightOf(double width, std::string_view text, Font font) {
    prepare(width, text, font, Align::Left);
    int w = 0, h = 0;
    pango_layout_get_size(layout_, &w, &h);
    return static_cast<double>(h) / PANGO_SCALE;
}

double Canvas::widthOf(std::string_view text, Font font) {
    prepare(0, text, font, Align::Left);
    int w = 0, h = 0;
    pango_layout_get_size(layout_, &w, &h);
    return static_cast<double>(w) / PANGO_SCALE;
}

double Canvas::text(double x, double y, double width, std::string_view text, Font font,
                    Colour colour, Align align) {
    prepare(width, text, font, align);
    int w = 0, h = 0;
    pango_layout_get_size(layout_, &w, &h);
    double left = x;
    if (width <= 0 && align != Align::Left) {
        const double tw = static_cast<double>(w) / PANGO_SCALE;
        left = align == Align::Centre ? x - tw / 2 : x - tw;
    }
    setColour(colour);
    cairo_move_to(cr_, left, y);
    pango_cairo_update_layout(cr_, layout_);
    pango_cairo_show_layout(cr_, layout_);
    cairo_new_path(cr_);
    return static_cast<double>(h) / PANGO_SCALE;
}

void Canvas::flow(double x, double width, std::string_view text, Font font,
                  const std::function<double(double)>& place) {
    prepare(width, text, font, Align::Left);
    // A copy of its own: `place` may start a page, whose footer uses the shared layout.
    PangoLayout* lines = pango_layout_copy(layout_);
    pango_cairo_update_layout(cr_, lines);
    PangoLayoutIter* it = pango_layout_get_iter(lines);
    do {
        PangoRectangle logical{};
        pango_layout_iter_get_line_extents(it, nullptr, &logical);
        const int baseline = pango_layout_iter_get_baseline(it);
        const double top = place(static_cast<double>(logical.height) / PANGO_SCALE);
        setColour(kBlack);
        cairo_move_to(cr_, x, top + static_cast<double>(baseline - logical.y) / PANGO_SCALE);
        pango_cairo_show_layout_line(cr_, pango_layout_iter_get_line_readonly(it));
    } while (pango_layout_iter_next_line(it));
    pango_layout_iter_free(it);
    g_object_unref(lines);
    cairo_new_path(cr_);
}

void Canvas::frame(const Box& b, Colour fill, Colour line) {
    cairo_rectangle(cr_, b.x, b.y, b.w, b.h);
    setColour(fill);
    cairo_fill_preserve(cr_);
    setColour(line);
    cairo_set_line_width(cr_, 0.8);
    cairo_stroke(cr_);
}

void drawRoute(Canvas& c, const Box& box, const StretchFacts& facts) {
    cairo_t* cr = c.cr();
    c.frame(box, {0.965, 0.962, 0.945}, kLight);
    const auto lang = c.language();
    if (facts.route.empty()) {
        c.text(box.x + box.w / 2, box.y + box.h / 2 - 6, 0,
               platform::text(strings::evidence::kNoPositions, lang), Font::Body, kGrey,
               Align::Centre);
        return;
    }
    // A local plane around the route: metres east and north of its middle latitude.
    double lat0 = 0;
    for (const auto& p : facts.route)
        lat0 += p.latitude.value();
    lat0 /= static_cast<double>(facts.route.size());
    const double kx = std::cos(lat0 * std::numbers::pi / 180.0) * kMetresPerDegree;
    const auto east = [&](const recordings::GeoPosition& p) { return p.longitude.value() * kx; };
    const auto north = [&](const recordings::GeoPosition& p) {
        return p.latitude.value() * kMetresPerDegree;
    };
    double minE = east(facts.route[0]), maxE = minE, minN = north(facts.route[0]), maxN = minN;
    for (const auto& p : facts.route) {
        minE = std::min(minE, east(p));
        maxE = std::max(maxE, east(p));
        minN = std::min(minN, north(p));
        maxN = std::max(maxN, north(p));
    }
    const double pad = 28;
    const double spanE = std::max(maxE - minE, kLeastRouteSpanMetres);
    const double spanN = std::max(maxN - minN, kLeastRouteSpanMetres);
    const double scale = std::min((box.w - 2 * pad) / spanE, (box.h - 2 * pad) / spanN);
    const double midE = (minE + maxE) / 2, midN = (minN + maxN) / 2;
    const auto at = [&](const recordings::GeoPosition& p) {
        return std::pair{box.x + box.w / 2 + (east(p) - midE) * scale,
                         box.y + box.h / 2 - (north(p) - midN) * scale};
    };

    cairo_save(cr);
    cairo_rectangle(cr, box.x, box.y, box.w, box.h);
    cairo_clip(cr);
    c.setColour(kSpeedColour);
    cairo_set_line_width(cr, 2.2);
    cairo_set_line_join(cr, CAIRO_LINE_JOIN_ROUND);
    cairo_set_line_cap(cr, CAIRO_LINE_CAP_ROUND);
    for (std::size_t i = 0; i < facts.route.size(); ++i) {
        const auto [x, y] = at(facts.route[i]);
        if (i == 0)
            cairo_move_to(cr, x, y);
        else
            cairo_line_to(cr, x, y);
    }
    if (facts.route.size() == 1) {
        const auto [x, y] = at(facts.route[0]);
        cairo_line_to(cr, x + 0.01, y);
    }
    cairo_stroke(cr);
    {
        const auto [x, y] = at(facts.route.front());
        marker(cr, x, y, 0, kStartColour);
    }
    {
        const auto [x, y] = at(facts.route.back());
        marker(cr, x, y, 1, kEndColour);
    }
    if (facts.strongest && facts.impacts[*facts.strongest].position) {
        const auto [x, y] = at(*facts.impacts[*facts.strongest].position);
        marker(cr, x, y, 2, kImpactColour);
    }
    cairo_restore(cr);

    // Scale bar: a round length of a sixth to a third of the width.
    const double metres = niceStep(box.w / 6 / scale);
    const double barLength = metres * scale;
    const double bx = box.x + 12, by = box.y + box.h - 14;
    c.setColour(kBlack);
    cairo_set_line_width(cr, 1.2);
    cairo_move_to(cr, bx, by - 4);
    cairo_line_to(cr, bx, by);
    cairo_line_to(cr, bx + barLength, by);
    cairo_line_to(cr, bx + barLength, by - 4);
    cairo_stroke(cr);
    const std::string length = metres >= 1000
                                   ? fixed(metres / 1000, metres >= 10000 ? 0 : 1) + " km"
                                   : fixed(metres, 0) + " m";
    c.text(bx + barLength + 4, by - 8, 0, length, Font::Small);

    // North arrow: the plane's north is up.
    const double nx = box.x + box.w - 18, ny = box.y + 14;
    cairo_move_to(cr, nx, ny);
    cairo_line_to(cr, nx + 5, ny + 14);
    cairo_line_to(cr, nx, ny + 10);
    cairo_line_to(cr, nx - 5, ny + 14);
    cairo_close_path(cr);
    c.setColour(kBlack);
    cairo_fill(cr);
    c.text(nx, ny + 15, 0, "N", Font::Bold, kBlack, Align::Centre);

    // Legend, bottom right.
    struct Item {
        int shape;
        Colour colour;
        int text;
    };
    std::vector<Item> items{{0, kStartColour, strings::evidence::kRouteStart},
                            {1, kEndColour, strings::evidence::kRouteEnd}};
    if (facts.strongest && facts.impacts[*facts.strongest].position)
        items.push_back({2, kImpactColour, strings::evidence::kStrongestImpact});
    double lx = box.x + box.w - 10;
    for (auto it = items.rbegin(); it != items.rend(); ++it) {
        const std::string label = platform::text(it->text, lang);
        lx -= c.widthOf(label, Font::Small);
        c.text(lx, by - 7, 0, label, Font::Small);
        lx -= 8;
        marker(cr, lx, by - 2.5, it->shape, it->colour);
        lx -= 14;
    }
}

void drawCurves(Canvas& c, const Box& box, const std::vector<Curve>& curves, double durationSeconds,
                const std::vector<double>& impactSeconds, std::optional<LocalTime> start,
                const std::string& unit, bool fromZero) {
    cairo_t* cr = c.cr();
    c.frame(box, {1, 1, 1}, kLight);
    double lo = INFINITY, hi = -INFINITY;
    for (const Curve& curve : curves) {
        for (const CurvePoint& p : *curve.points) {
            lo = std::min(lo, p.value);
            hi = std::max(hi, p.value);
        }
    }
    if (!std::isfinite(lo)) {
        c.text(box.x + box.w / 2, box.y + box.h / 2 - 6, 0,
               platform::text(strings::evidence::kNoTelemetry, c.language()), Font::Body, kGrey,
               Align::Centre);
        return;
    }
    if (fromZero)
        lo = std::min(lo, 0.0);
    if (hi - lo < 1e-6) {
        hi += 1;
        lo -= fromZero ? 0 : 1;
    }
    const double yStep = niceStep((hi - lo) / 4);
    lo = std::floor(lo / yStep) * yStep;
    hi = std::ceil(hi / yStep) * yStep;
    const Box plot{box.x + 38, box.y + 16, box.w - 38 - 10, box.h - 16 - 18};
    const double span = std::max(durationSeconds, 1e-3);
    const auto px = [&](double s) { return plot.x + plot.w * std::clamp(s / span, 0.0, 1.0); };
    const auto py = [&](double v) { return plot.y + plot.h * (1 - (v - lo) / (hi - lo)); };

    // Grid and labels.
    cairo_set_line_width(cr, 0.4);
    const int yDecimals = decimalsFor(yStep);
    for (double v = lo; v <= hi + yStep / 2; v += yStep) {
        c.setColour(kLight);
        cairo_move_to(cr, plot.x, py(v));
        cairo_line_to(cr, plot.x + plot.w, py(v));
        cairo_stroke(cr);
        c.text(plot.x - 4, py(v) - 4.5, 0, fixed(v, yDecimals), Font::Small, kGrey, Align::Right);
    }
    const double xStep = niceStep(span / 6);
    for (double s = 0; s <= span + 1e-9; s += xStep) {
        c.setColour(kLight);
        cairo_move_to(cr, px(s), plot.y);
        cairo_line_to(cr, px(s), plot.y + plot.h);
        cairo_stroke(cr);
        const std::string label = start ? clockText(trips::plusSeconds(*start, s))
                                        : "+" + fixed(s, decimalsFor(xStep)) + " s";
        // Centred under its line, but never past the frame's edges.
        const double w = c.widthOf(label, Font::Small);
        const double left = std::clamp(px(s) - w / 2, box.x + 2, box.x + box.w - 2 - w);
        c.text(left, plot.y + plot.h + 3, 0, label, Font::Small, kGrey);
    }

    // Impacts under the curves, so the curves stay readable where they cross.
    const double dashes[] = {3, 2};
    for (double s : impactSeconds) {
        c.setColour(kImpactColour);
        cairo_set_line_width(cr, 1);
        cairo_set_dash(cr, dashes, 2, 0);
        cairo_move_to(cr, px(s), plot.y);
        cairo_line_to(cr, px(s), plot.y + plot.h);
        cairo_stroke(cr);
        cairo_set_dash(cr, nullptr, 0, 0);
    }
    cairo_save(cr);
    cairo_rectangle(cr, plot.x, plot.y - 1, plot.w, plot.h + 2);
    cairo_clip(cr);
    cairo_set_line_join(cr, CAIRO_LINE_JOIN_ROUND);
    for (const Curve& curve : curves) {
        c.setColour(curve.colour);
        cairo_set_line_width(cr, 1.1);
        bool first = true;
        for (const CurvePoint& p : *curve.points) {
            if (first)
                cairo_move_to(cr, px(p.seconds), py(p.value));
            else
                cairo_line_to(cr, px(p.seconds), py(p.value));
            first = false;
        }
        cairo_stroke(cr);
    }
    cairo_restore(cr);

    // Legend along the top, the unit at the right.
    double lx = plot.x;
    for (const Curve& curve : curves) {
        c.setColour(curve.colour);
        cairo_set_line_width(cr, 2);
        cairo_move_to(cr, lx, box.y + 8);
        cairo_line_to(cr, lx + 12, box.y + 8);
        cairo_stroke(cr);
        lx += 15;
        lx += c.widthOf(curve.label, Font::Small) + 10;
        c.text(lx - c.widthOf(curve.label, Font::Small) - 10, box.y + 3.5, 0, curve.label,
               Font::Small);
    }
    if (!impactSeconds.empty()) {
        c.setColour(kImpactColour);
        cairo_set_line_width(cr, 1);
        cairo_set_dash(cr, dashes, 2, 0);
        cairo_move_to(cr, lx, box.y + 8);
        cairo_line_to(cr, lx + 12, box.y + 8);
        cairo_stroke(cr);
        cairo_set_dash(cr, nullptr, 0, 0);
        c.text(lx + 15, box.y + 3.5, 0, platform::text(strings::evidence::kImpact, c.language()),
               Font::Small);
    }
    c.text(plot.x + plot.w, box.y + 3.5, 0, unit, Font::Small, kGrey, Align::Right);
}

}  // namespace orvik::evidence::report
