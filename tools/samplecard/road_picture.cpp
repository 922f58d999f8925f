#include "samplecard/road_picture.h"

#include <algorithm>
#include <array>
#include <cmath>

namespace orvik::tools {
namespace {

struct Rgb {
    int r, g, b;
};

Rgb mix(Rgb a, Rgb b, double t) {
    t = std::clamp(t, 0.0, 1.0);
    return {static_cast<int>(a.r + (b.r - a.r) * t), static_cast<int>(a.g + (b.g - a.g) * t),
            static_cast<int>(a.b + (b.b - a.b) * t)};
}

// 5 x 7 glyphs, one byte per row, the low five bits from left to right.
const std::array<std::uint8_t, 7>* glyph(char c) {
    static const std::array<std::uint8_t, 7> digits[10] = {
        {0x0E, 0x11, 0x13, 0x15, 0x19, 0x11, 0x0E}, {0x04, 0x0C, 0x04, 0x04, 0x04, 0x04, 0x0E},
        {0x0E, 0x11, 0x01, 0x02, 0x04, 0x08, 0x1F}, {0x1F, 0x02, 0x04, 0x02, 0x01, 0x11, 0x0E},
        {0x02, 0x06, 0x0A, 0x12, 0x1F, 0x02, 0x02}, {0x1F, 0x10, 0x1E, 0x01, 0x01, 0x11, 0x0E},
        {0x06, 0x08, 0x10, 0x1E, 0x11, 0x11, 0x0E}, {0x1F, 0x01, 0x02, 0x04, 0x08, 0x08, 0x08},
        {0x0E, 0x11, 0x11, 0x0E, 0x11, 0x11, 0x0E}, {0x0E, 0x11, 0x11, 0x0F, 0x01, 0x02, 0x0C}};
    static const std::array<std::uint8_t, 7> dash{0, 0, 0, 0x1F, 0, 0, 0};
    static const std::array<std::uint8_t, 7> colon{0, 0x0C, 0x0C, 0, 0x0C, 0x0C, 0};
    static const std::array<std::uint8_t, 7> slash{0, 0x01, 0x02, 0x04, 0x08, 0x10, 0};
    static const std::array<std::uint8_t, 7> dot{0, 0, 0, 0, 0, 0x0C, 0x0C};
    static const std::array<std::uint8_t, 7> k{0x10, 0x10, 0x12, 0x14, 0x18, 0x14, 0x12};
    static const std::array<std::uint8_t, 7> m{0, 0, 0x1A, 0x15, 0x15, 0x11, 0x11};
    static const std::array<std::uint8_t, 7> h{0x10, 0x10, 0x16, 0x19, 0x11, 0x11, 0x11};
    if (c >= '0' && c <= '9')
        return &digits[c - '0'];
    switch (c) {
        case '-':
            return &dash;
        case ':':
            return &colon;
        case '/':
            return &slash;
        case '.':
            return &dot;
        case 'k':
            return &k;
        case 'm':
            return &m;
        case 'h':
            return &h;
        default:
            return nullptr;  // a space, or a character the camera's stamp never has
    }
}

}  // namespace

void paintRoad(std::vector<std::uint8_t>& rgb, int w, int h, const RoadFrame& f) {
    auto put = [&](int x, int y, Rgb c) {
        if (x < 0 || y < 0 || x >= w || y >= h)
            return;
        std::uint8_t* p = &rgb[(static_cast<std::size_t>(y) * w + x) * 3];
        p[0] = static_cast<std::uint8_t>(std::clamp(c.r, 0, 255));
        p[1] = static_cast<std::uint8_t>(std::clamp(c.g, 0, 255));
        p[2] = static_cast<std::uint8_t>(std::clamp(c.b, 0, 255));
    };
    const double shade = f.rear ? 0.8 : 1.0;  // the rear camera's smaller, dimmer sensor
    auto dim = [&](Rgb c) {
        return Rgb{static_cast<int>(c.r * shade), static_cast<int>(c.g * shade),
                   static_cast<int>(c.b * shade)};
    };
    const int horizon = h * 42 / 100;
    const Rgb skyTop{96, 150, 210}, skyLow{206, 222, 236};
    const Rgb grassFar{112, 136, 96}, grassNear{62, 104, 52};
    const Rgb asphaltFar{128, 130, 134}, asphaltNear{72, 74, 78};
    const Rgb white{236, 236, 230}, yellow{230, 190, 40}, building{150, 158, 172};

    // A skyline of blocks on the horizon, the same in every frame.
    const int block = std::max(2, w / 36);
    for (int y = 0; y < horizon; ++y) {
        const Rgb sky = dim(mix(skyTop, skyLow, static_cast<double>(y) / horizon));
        for (int x = 0; x < w; ++x) {
            const unsigned seed = static_cast<unsigned>(x / block) * 2654435761u;
            const int tall = static_cast<int>((seed >> 24) % 100) * h / 1100;
            put(x, y, y >= horizon - tall ? dim(building) : sky);
        }
    }
    // Below the horizon each row is one distance ahead (or behind): nearer rows are wider.
    const double travelled = f.rear ? -f.travelledMetres : f.travelledMetres;
    for (int y = horizon; y < h; ++y) {
        const double t = static_cast<double>(y - horizon + 1) / (h - horizon);  // 0 far, 1 near
        const double metres = 2.5 / t;  // the ground's distance seen on this row
        // Looking back, the road bends the other way and its sides swap.
        const double curve = f.rear ? -f.curve : f.curve;
        const double centre = w / 2.0 + curve * w * 0.35 * (1 - t) * (1 - t);
        const double half = w * (0.02 + 0.62 * t);
        const double line = std::max(1.0, w * 0.012 * t);
        const Rgb grass = dim(mix(grassFar, grassNear, t));
        const Rgb asphalt = dim(mix(asphaltFar, asphaltNear, t));
        // Lane marks 3 m long every 10 m, passing as the car drives.
        const double along = std::fmod(std::fmod(metres + travelled, 10.0) + 10.0, 10.0);
        const bool dashOn = along < 3.0;
        for (int x = 0; x < w; ++x) {
            const double dx = f.rear ? centre - x : x - centre;
            Rgb c = grass;
            if (std::fabs(dx) <= half) {
                c = asphalt;
                const double fromLeft = dx + half, fromRight = half - dx;
                if (fromLeft < line || (fromLeft > 1.6 * line && fromLeft < 2.6 * line))
                    c = dim(yellow);  // the double line on the left
                else if (fromRight < line)
                    c = dim(white);  // the right edge
                else if (dashOn && std::fabs(dx - half * 0.05) < line * 0.8)
                    c = dim(white);  // between the two lanes of our side
            }
            put(x, y, c);
        }
    }
    // The stamp, white with a dark shadow, in the lower left corner.
    const int scale = std::max(1, h / 180);
    const int x0 = 6 * scale, y0 = h - 12 * scale;
    for (int pass = 0; pass < 2; ++pass) {  // the shadow first, so it never covers a stroke
        const int offset = pass == 0 ? scale : 0;
        const Rgb ink = pass == 0 ? Rgb{20, 20, 20} : Rgb{250, 250, 250};
        int x = x0;
        for (char ch : f.stamp) {
            if (const auto* g = glyph(ch))
                for (int row = 0; row < 7; ++row)
                    for (int col = 0; col < 5; ++col)
                        if ((*g)[row] >> (4 - col) & 1)
                            for (int sy = 0; sy < scale; ++sy)
                                for (int sx = 0; sx < scale; ++sx)
                                    put(x + col * scale + sx + offset,
                                        y0 + row * scale + sy + offset, ink);
            x += 6 * scale;
        }
    }
}

}  // namespace orvik::tools
