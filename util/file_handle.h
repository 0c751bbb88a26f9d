#pragma once

#include <errno.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <utility>

namespace ferret {

// An open file descriptor, closed when the holder goes out of scope, whatever path it takes.
class Fd {
  public:
    explicit Fd(int fd = -1) : fd_(fd) {}
    ~Fd() { Reset(); }
    Fd(const Fd&) = delete;
    Fd& operator=(const Fd&) = delete;
    Fd(Fd&& other) noexcept : fd_(other.release()) {}
    Fd& operator=(Fd&& other) noexcept {
        if (this != &other) {
            Reset(other.release());
        }
        return *this;
    }
    int get() const { return fd_; }
    // Closes the descriptor held and holds `fd` instead.
    void Reset(int fd = -1) {
        if (fd_ >= 0) {
            close(fd_);
        }
        fd_ = fd;
    }
    // Gives the descriptor up without closing it.
    int release() { return std::exchange(fd_, -1); }

  private:
    int fd_;
};

namespace write_detail {

// Writes on after short writes and interruptions; `write_some(bytes, written)` writes from
// `bytes` with `written` bytes already written.
template <typename WriteSome>
bool Whole(std::string_view bytes, WriteSome write_some) {
    std::uint64_t written = 0;
    while (!bytes.empty()) {
        const ssize_t done = write_some(bytes, written);
        if (done < 0 && errno == EINTR) {
            continue;
        }
        if (done <= 0) {
            if (done == 0) {
                errno = EIO;
            }
            return false;
        }
        bytes.remove_prefix(static_cast<std::size_t>(done));
        written += static_cast<std::uint64_t>(done);
    }
    return true;
}

}  // namespace write_detail

// Writes all of `bytes`, going on after short writes and interruptions. False with errno set
// (EIO when the file took nothing).
inline bool WriteAll(int fd, std::string_view bytes) {
    return write_detail::Whole(bytes, [fd](std::string_view rest, std::uint64_t) {
        return write(fd, rest.data(), rest.size());
    });
}

// The same at `offset`, the file's position left as it is.
inline bool WriteAllAt(int fd, std::string_view bytes, std::uint64_t offset) {
    return write_detail::Whole(bytes, [fd, offset](std::string_view rest, std::uint64_t written) {
        return pwrite(fd, rest.data(), rest.size(), static_cast<off_t>(offset + written));
    });
}

// What a read gave: how many bytes came (0 at the end of the file), or why it failed. A failed
// read leaves errno set to `error` as well, for callers that tell it later.
struct ReadResult {
    std::size_t bytes = 0;
    int error = 0;
    bool failed() const { return error != 0; }
};

namespace read_detail {

// A signal that arrives during a read is no reason to give up on it.
template <typename ReadOnce>
ReadResult Retried(ReadOnce read_once) {
    for (;;) {
        const ssize_t got = read_once();
        if (got >= 0) {
            return {static_cast<std::size_t>(got), 0};
        }
        if (errno != EINTR) {
            return {0, errno};
        }
    }
}

// Reads on after short reads until `size` bytes came or the file ended; on a failure, `bytes`
// counts those that came before it.
template <typename ReadSomeAt>
ReadResult Filled(std::size_t size, ReadSomeAt read_some_at) {
    ReadResult total;
    while (total.bytes < size) {
        const ReadResult got = read_some_at(total.bytes);
        if (got.failed()) {
            return {total.bytes, got.error};
        }
        if (got.bytes == 0) {
            break;
        }
        total.bytes += got.bytes;
    }
    return total;
}

}  // namespace read_detail

// One read of up to `size` bytes from the file's position: a short read is the caller's to
// continue.
inline ReadResult ReadSome(int fd, char* into, std::size_t size) {
    return read_detail::Retried([&] { return read(fd, into, size); });
}

// One read of up to `size` bytes at `offset`, the file's position untouched.
inline ReadResult ReadSomeAt(int fd, char* into, std::size_t size, std::uint64_t offset) {
    return read_detail::Retried([&] { return pread(fd, into, size, static_cast<off_t>(offset)); });
}

// `size` bytes from the file's position, fewer only when the file ends first.
inline ReadResult ReadFull(int fd, char* into, std::size_t size) {
    return read_detail::Filled(
        size, [&](std::size_t done) { return ReadSome(fd, into + done, size - done); });
}

// `size` bytes at `offset`, fewer only when the file ends first; the file's position untouched.
inline ReadResult ReadFullAt(int fd, char* into, std::size_t size, std::uint64_t offset) {
    return read_detail::Filled(size, [&](std::size_t done) {
        return ReadSomeAt(fd, into + done, size - done, offset + done);
    });
}

// Reads the rest of the file into `bytes`. False with errno set on a read error (`bytes` then
// holds what was read).
inline bool ReadAll(int fd, std::string& bytes) {
    bytes.clear();
    char block[65536];
    for (;;) {
        const ReadResult got = ReadSome(fd, block, sizeof block);
        if (got.failed() || got.bytes == 0) {
            return !got.failed();
        }
        bytes.append(block, got.bytes);
    }
}

}  // namespace ferret
