#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

#include "util/file_handle.h"
#include "util/status.h"

namespace ferret {

// Bytes gathered in memory up to a bound and, past it, in an unnamed file of the temporary
// folder: what must be held before it can be written out (a patch's hunk, whose header counts
// its lines) takes a bounded memory whatever its size.
class SpillBuffer {
  public:
    static constexpr std::size_t kInMemory = 1 << 20;

    explicit SpillBuffer(std::size_t in_memory = kInMemory) : in_memory_(in_memory) {}

    [[nodiscard]] Status Append(std::string_view bytes);
    std::uint64_t size() const { return spilled_ + memory_.size(); }
    bool empty() const { return size() == 0; }
    // The last byte appended; none when empty.
    char back() const;
    // Gives the bytes, in order, a piece at a time, to `out`, and empties the buffer.
    [[nodiscard]] Status Drain(const std::function<Status(std::string_view)>& out);

  private:
    [[nodiscard]] Status Spill();

    const std::size_t in_memory_;
    std::string memory_;  // the bytes after those spilled
    Fd file_;
    std::uint64_t spilled_ = 0;
    char last_spilled_ = 0;
};

}  // namespace ferret
