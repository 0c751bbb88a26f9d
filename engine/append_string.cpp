#include "engine/append_string.h"

namespace ferret {

void AppendString::AddToString(std::string_view text) {
    const std::size_t needed = used_ + text.size();
    if (needed > buffer_.size()) {
        const std::size_t steps = (needed - buffer_.size() + kGrowStep - 1) / kGrowStep;
        buffer_.resize(buffer_.size() + steps * kGrowStep, ' ');
    }
    buffer_.replace(used_, text.size(), text);
    used_ = needed;
}

std::string AppendString::ReturnString() {
    buffer_.resize(used_);
    return buffer_;
}

}  // namespace ferret
