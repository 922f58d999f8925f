#pragma once
// The system's text for an errno value: the one place errno becomes words.
#include <string>

namespace orvik::platform {

// Thread-safe (strerror's buffer is shared); "Unknown error N" for values the C library does
// not know.
std::string systemErrorText(int error);

}  // namespace orvik::platform
