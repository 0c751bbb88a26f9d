#pragma once

#include <cstdint>
#include <string>

namespace ferret {

// The size column's text: "1,023 bytes", "1.00 KB", "512.0 KB", "1.00 MB", "3.00 GB", with the
// locale's separators. Sizes of 10,000,000 KB and more keep counting in GB ("12.3 GB") instead
// of showing nothing.
std::string FormatFileSize(std::uint64_t size);

}  // namespace ferret
