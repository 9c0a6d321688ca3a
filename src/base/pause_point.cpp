#include "base/pause_point.h"

namespace quarn::detail {

// Out of line, so that the check inlined into hot loops stays small.
void run_pause() {
    if (void (*const pause_now)() = pause.load(std::memory_order_acquire)) pause_now();
}

}  // namespace quarn::detail
