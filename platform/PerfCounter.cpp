#include "PerfCounter.h"

#include <ctime>

namespace platform {

int64_t PerformanceFrequency() {
    timespec res{};
    if (clock_getres(CLOCK_MONOTONIC, &res) != 0) return 0;
    int64_t ns = static_cast<int64_t>(res.tv_sec) * 1000000000 + res.tv_nsec;
    if (ns <= 0 || ns > 1000) return 0;
    return 1000000000 / ns;
}

} // namespace platform
