#pragma once

// File contents the fault tests search and rewrite, with "needle" exactly where it is put.
#include <cstddef>
#include <cstdint>
#include <random>
#include <string>
#include <vector>

namespace ferret::testing {

// A hit at the start of every MiB of a `mib` MiB text.
inline std::string NeedleEveryMiB(int mib) {
    std::string text(static_cast<std::size_t>(mib) << 20, '.');
    for (int i = 0; i < mib; ++i) {
        text.replace(static_cast<std::size_t>(i) << 20, 6, "needle");
    }
    return text;
}

// Random bytes of every value, NULs included, without "n" or "N" so "needle" occurs only `at`.
inline std::string BinaryWithNeedles(std::size_t size, const std::vector<std::size_t>& at,
                                     std::uint32_t seed) {
    std::mt19937 random(seed);
    std::string bytes(size, '\0');
    for (char& c : bytes) {
        c = static_cast<char>(random() & 0xff);
        if (c == 'n' || c == 'N') {
            c = '\0';
        }
    }
    for (const std::size_t where : at) {
        bytes.replace(where, 6, "needle");
    }
    return bytes;
}

}  // namespace ferret::testing
