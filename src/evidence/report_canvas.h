#pragma once
// Drawing for the report: a cairo context with the report's fonts, and the two pictures drawn
// from the telemetry (the route, the curves). Internal to the report.
#include <cairo.h>
#include <pango/pangocairo.h>

#include <array>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "evidence/stretch_facts.h"
#include "platform/strings.h"

namespace orvik::evidence::report {

struct Colour {
    double r = 0, g = 0, b = 0;
};
inline constexpr Colour kBlack{0, 0, 0};
inline constexpr Colour kGrey{0.42, 0.42, 0.42};
inline constexpr Colour kLight{0.85, 0.85, 0.85};
// The viewer's G-sensor graph colours: X red, Y green, Z blue.
inline constexpr std::array<Colour, 3> kAxisColours{
    Colour{0.84, 0.16, 0.16}, Colour{0.10, 0.58, 0.20}, Colour{0.16, 0.36, 0.86}};
inline constexpr Colour kSpeedColour{0.05, 0.25, 0.55};
inline constexpr Colour kImpactColour{0.86, 0.10, 0.10};

struct Box {
    double x = 0, y = 0, w = 0, h = 0;
};

enum class Font { Title, Heading, Body, Bold, Small, Mono };
enum class Align { Left, Centre, Right };

class Canvas {
  public:
    Canvas(cairo_t* cr, platform::Language language);
    ~Canvas();
    Canvas(const Canvas&) = delete;
    Canvas& operator=(const Canvas&) = delete;

    cairo_t* cr() const { return cr_; }
    platform::Language language() const { return language_; }
    // Draws `text` with its top at y, wrapped to `width` (0: one line, aligned at x); returns
    // the height it took. Text is never read as markup.
    double text(double x, double y, double width, std::string_view text, Font font,
                Colour colour = kBlack, Align align = Align::Left);
    // Draws `text` wrapped to `width` line by line; `place` receives each line's height and
    // returns the top to draw it at (so a long text can go on over a page break).
    void flow(double x, double width, std::string_view text, Font font,
              const std::function<double(double lineHeight)>& place);
    double heightOf(double width, std::string_view text, Font font);
    double widthOf(std::string_view text, Font font);

    void setColour(Colour c) { cairo_set_source_rgb(cr_, c.r, c.g, c.b); }
    void frame(const Box& b, Colour fill, Colour line);

  private:
    void prepare(double width, std::string_view text, Font font, Align align);
    cairo_t* cr_;
    platform::Language language_;
    PangoLayout* layout_ = nullptr;
    std::array<PangoFontDescription*, 6> fonts_{};
};

// The route of the stretch on a plain background, with a scale bar, a north arrow, the start,
// the end and the strongest impact marked.
void drawRoute(Canvas& c, const Box& box, const StretchFacts& facts);

struct Curve {
    const std::vector<CurvePoint>* points;
    Colour colour;
    std::string label;
};

// Curves over the stretch's time (seconds from its start), with the impacts marked as
// vertical lines and the time axis labelled in the camera's local time when known.
void drawCurves(Canvas& c, const Box& box, const std::vector<Curve>& curves, double durationSeconds,
                const std::vector<double>& impactSeconds, std::optional<LocalTime> start,
                const std::string& unit, bool fromZero);

// "12.5", "-0.30": fixed decimals, "C" conventions.
std::string fixed(double v, int decimals);
// "08:15:03" of a local time plus seconds.
std::string clockText(LocalTime t);

}  // namespace orvik::evidence::report
