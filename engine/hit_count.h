#pragma once

#include <cstdint>

#include "engine/content_search.h"

namespace ferret {

// Totals of hits and files kept within what a count can show: they stop at kMaxHitCount.
inline std::int32_t SaturatedAdd(std::int32_t a, std::int32_t b) {
    const std::int64_t sum = static_cast<std::int64_t>(a) + b;
    return sum > kMaxHitCount ? kMaxHitCount : static_cast<std::int32_t>(sum);
}

}  // namespace ferret
