#include "platform/system_error.h"

#include <cstring>

namespace orvik::platform {

std::string systemErrorText(int error) {
    char buf[256];
    // GNU strerror_r returns the text (possibly a static string rather than buf).
    return ::strerror_r(error, buf, sizeof buf);
}

}  // namespace orvik::platform
