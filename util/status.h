#pragma once

#include <string>
#include <utility>

namespace ferret {

// The outcome of an operation that can fail. Errors are values: a failing operation returns a
// Status carrying the error number, the description and the source (program name, a point and
// the class name, as "ferret.cRegistry"), and the caller decides whether to log it.
class [[nodiscard]] Status {
  public:
    Status() = default;  // success

    static Status Error(int number, std::string description, std::string source = {}) {
        Status s;
        s.number_ = number;
        s.description_ = std::move(description);
        s.source_ = std::move(source);
        return s;
    }

    bool ok() const { return number_ == 0; }
    int number() const { return number_; }
    const std::string& description() const { return description_; }
    const std::string& source() const { return source_; }

  private:
    int number_ = 0;
    std::string description_;
    std::string source_;
};

}  // namespace ferret
