#pragma once

#include <errno.h>
#include <unistd.h>

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

// Writes all of `bytes`, going on after short writes and interruptions. False with errno set
// (EIO when the file took nothing).
inline bool WriteAll(int fd, std::string_view bytes) {
    while (!bytes.empty()) {
        const ssize_t done = write(fd, bytes.data(), bytes.size());
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
    }
    return true;
}

// Reads the rest of the file into `bytes`, going on after interruptions. False with errno set on
// a read error (`bytes` then holds what was read).
inline bool ReadAll(int fd, std::string& bytes) {
    bytes.clear();
    char block[65536];
    for (;;) {
        const ssize_t got = read(fd, block, sizeof block);
        if (got < 0 && errno == EINTR) {
            continue;
        }
        if (got <= 0) {
            return got == 0;
        }
        bytes.append(block, static_cast<std::size_t>(got));
    }
}

}  // namespace ferret
