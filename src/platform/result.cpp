// Keeps the platform library non-empty while its other pieces are added.
#include "platform/result.h"
