#include "util/spill_buffer.h"

#include <fcntl.h>
#include <stdlib.h>
#include <string.h>

#include <algorithm>
#include <vector>

namespace ferret {
namespace {

Status Failure(const char* what) {
    const int error = errno;
    return Status::Error(error, std::string(what) + ": " + strerror(error));
}

// An unnamed file in the temporary folder, readable by us alone, gone when closed.
int OpenUnnamed() {
    const char* folder = getenv("TMPDIR");
    if (folder == nullptr || *folder == '\0') {
        folder = "/tmp";
    }
    const int fd = open(folder, O_TMPFILE | O_RDWR | O_CLOEXEC, 0600);
    if (fd >= 0 || (errno != EOPNOTSUPP && errno != EISDIR)) {
        return fd;
    }
    // A file system without unnamed files: a named one, unlinked at once.
    std::string name = std::string(folder) + "/ferret-XXXXXX";
    const int named = mkostemp(name.data(), O_CLOEXEC);
    if (named >= 0) {
        unlink(name.c_str());
    }
    return named;
}

}  // namespace

Status SpillBuffer::Append(std::string_view bytes) {
    memory_.append(bytes);
    return memory_.size() > in_memory_ ? Spill() : Status();
}

char SpillBuffer::back() const {
    return memory_.empty() ? last_spilled_ : memory_.back();
}

Status SpillBuffer::Spill() {
    if (file_.get() < 0) {
        file_.Reset(OpenUnnamed());
        if (file_.get() < 0) {
            return Failure("cannot make a temporary file");
        }
    }
    if (!WriteAllAt(file_.get(), memory_, spilled_)) {
        return Failure("cannot write a temporary file");
    }
    spilled_ += memory_.size();
    last_spilled_ = memory_.back();
    memory_.clear();
    return {};
}

Status SpillBuffer::Drain(const std::function<Status(std::string_view)>& out) {
    if (spilled_ > 0) {
        std::vector<char> block(in_memory_ > 0 ? in_memory_ : 64 * 1024);
        for (std::uint64_t at = 0; at < spilled_;) {
            const std::size_t want =
                static_cast<std::size_t>(std::min<std::uint64_t>(block.size(), spilled_ - at));
            const ReadResult got = ReadFullAt(file_.get(), block.data(), want, at);
            if (got.failed() || got.bytes != want) {
                if (!got.failed()) {
                    errno = EIO;
                }
                return Failure("cannot read a temporary file");
            }
            if (Status status = out(std::string_view(block.data(), want)); !status.ok()) {
                return status;
            }
            at += want;
        }
        spilled_ = 0;
        if (ftruncate(file_.get(), 0) != 0) {
            return Failure("cannot empty a temporary file");
        }
    }
    const Status status = memory_.empty() ? Status() : out(memory_);
    memory_.clear();
    return status;
}

}  // namespace ferret
