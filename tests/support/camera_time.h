#pragma once
// The camera's clock on the day the generated cards are recorded.
#include <chrono>

#include "trips/trips.h"

namespace orvik::trips {

inline LocalTime at(int h, int m, int s, int ms = 0) {
    using namespace std::chrono;
    return LocalTime{sys_days{2026y / March / 14}} + hours{h} + minutes{m} + seconds{s} +
           milliseconds{ms};
}

}  // namespace orvik::trips
