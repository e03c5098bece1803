// The high-resolution performance counter, as far as the program's start-up check needs it.
#pragma once

#include <cstdint>

namespace platform {

// Ticks per second of the monotonic clock, or 0 when the machine has no clock with a resolution
// of a microsecond or better.
int64_t PerformanceFrequency();

} // namespace platform
