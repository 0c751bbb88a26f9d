#pragma once

#include <string>
#include <string_view>

namespace ferret {

// A text builder for long reports: the buffer grows in steps of 10,000 characters, so building
// a report of many thousands of lines costs one copy per appended piece. Texts may hold NULs.
class AppendString {
  public:
    static constexpr std::size_t kGrowStep = 10000;

    void AddToString(std::string_view text);
    // The text so far; the spare room is dropped and grows again on the next append.
    std::string ReturnString();

    std::size_t Length() const { return used_; }
    std::size_t BufferLength() const { return buffer_.size(); }

  private:
    std::string buffer_;  // the text followed by spare blanks
    std::size_t used_ = 0;
};

}  // namespace ferret
