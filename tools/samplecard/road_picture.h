#pragma once
// The demo card's pictures: what a dash camera sees of a road, drawn simply — sky over a horizon,
// verges, the road in perspective with lane marks that pass at the car's speed, and the camera's
// date and time stamped in the lower left corner as cameras do.
#include <cstdint>
#include <string>
#include <vector>

namespace orvik::tools {

struct RoadFrame {
    double travelledMetres = 0;  // how far the car has come: moves the lane marks
    double curve = 0;            // -1 (bending left) .. 1 (bending right)
    bool rear = false;           // the rear camera looks back: marks recede, a darker tint
    std::string stamp;           // "2026-03-14 08:15:03"; digits, '-', ':', '/', '.' and spaces
};

// Paints one RGB24 frame of w x h pixels into `rgb` (w * h * 3 bytes).
void paintRoad(std::vector<std::uint8_t>& rgb, int w, int h, const RoadFrame& frame);

}  // namespace orvik::tools
