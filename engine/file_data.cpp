#include "engine/file_data.h"

#include <errno.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QByteArray>
#include <algorithm>
#include <condition_variable>
#include <cstring>
#include <deque>
#include <mutex>
#include <thread>
#include <vector>

#include "util/blake2b.h"
#include "util/file_handle.h"

namespace ferret {
namespace {

constexpr std::size_t kHoleBlock = 4096;
constexpr std::size_t kCopyBlock = 1 << 20;

bool AllZero(const char* bytes, std::size_t size) {
    static const char zeros[kHoleBlock] = {};
    return std::memcmp(bytes, zeros, size) == 0;
}

// Copies [offset, offset + length) of `from` to `to` at `to_offset`: in the kernel, else
// through a buffer.
bool CopyData(int from, std::uint64_t offset, std::uint64_t length, int to,
              std::uint64_t to_offset) {
    loff_t in = static_cast<loff_t>(offset);
    loff_t out = static_cast<loff_t>(to_offset);
    std::uint64_t left = length;
    while (left > 0) {
        const ssize_t copied =
            copy_file_range(from, &in, to, &out, std::min<std::uint64_t>(left, 1u << 30), 0);
        if (copied > 0) {
            left -= static_cast<std::uint64_t>(copied);
            continue;
        }
        if (copied == 0) {
            errno = EIO;  // the file ended early: it changed while it was copied
            return false;
        }
        if (errno == EINTR) {
            continue;
        }
        if (errno != EXDEV && errno != EINVAL && errno != ENOSYS && errno != EOPNOTSUPP) {
            return false;
        }
        break;  // not in the kernel here: through a buffer
    }
    std::vector<char> buffer(left > 0 ? std::min<std::uint64_t>(left, kCopyBlock) : 0);
    while (left > 0) {
        const std::size_t want =
            static_cast<std::size_t>(std::min<std::uint64_t>(left, buffer.size()));
        const ReadResult got =
            ReadFullAt(from, buffer.data(), want, static_cast<std::uint64_t>(in));
        if (got.failed() || got.bytes == 0) {
            if (!got.failed()) {
                errno = EIO;
            }
            return false;
        }
        if (!WriteAllAt(to, std::string_view(buffer.data(), got.bytes),
                        static_cast<std::uint64_t>(out))) {
            return false;
        }
        out += static_cast<loff_t>(got.bytes);
        in += static_cast<loff_t>(got.bytes);
        left -= got.bytes;
    }
    return true;
}

}  // namespace

struct ContentHash::State {
    Blake2b hash{32};
};

ContentHash::ContentHash() : state_(new State) {}
ContentHash::~ContentHash() = default;

void ContentHash::Add(std::string_view bytes) {
    state_->hash.Add(bytes);
}

std::string ContentHash::Hex() const {
    Blake2b done = state_->hash;  // the hash may go on
    const std::string digest = done.Digest();
    return QByteArray::fromRawData(digest.data(), static_cast<qsizetype>(digest.size()))
        .toHex()
        .toStdString();
}

// One checksum of a pair, worked out on a thread of its own once its bytes pass kInline.
struct ChecksumPair::Lane {
    static constexpr std::size_t kMostHeld = 8 << 20;
    static constexpr std::size_t kInline = 1 << 20;

    void Work() {
        std::unique_lock lock(mutex);
        for (;;) {
            changed.wait(lock, [&] { return !queue.empty() || ending; });
            if (queue.empty()) {
                return;
            }
            std::string bytes = std::move(queue.front());
            queue.pop_front();
            lock.unlock();
            hash.Add(bytes);
            lock.lock();
            held -= bytes.size();
            changed.notify_all();
        }
    }

    void Add(std::string_view bytes) {
        // Most files are small: a thread of their own would cost more than their checksums.
        if (!worker.joinable() && inline_bytes + bytes.size() <= kInline) {
            inline_bytes += bytes.size();
            hash.Add(bytes);
            return;
        }
        std::unique_lock lock(mutex);
        if (!worker.joinable()) {
            worker = std::thread([this] { Work(); });
        }
        changed.wait(lock, [&] { return held < kMostHeld; });
        queue.emplace_back(bytes);
        held += bytes.size();
        changed.notify_all();
    }

    // Waits until every byte given is hashed.
    void End() {
        {
            std::lock_guard lock(mutex);
            ending = true;
            changed.notify_all();
        }
        if (worker.joinable()) {
            worker.join();
        }
    }

    std::mutex mutex;
    std::condition_variable changed;
    std::deque<std::string> queue;  // protected by mutex
    std::size_t held = 0;           // protected by mutex
    bool ending = false;            // protected by mutex
    ContentHash hash;               // touched by the worker alone while it runs
    std::thread worker;
    std::size_t inline_bytes = 0;  // hashed by the caller, before the worker started
};

ChecksumPair::ChecksumPair() : lanes_{std::make_unique<Lane>(), std::make_unique<Lane>()} {}

ChecksumPair::~ChecksumPair() {
    for (const std::unique_ptr<Lane>& lane : lanes_) {
        lane->End();
    }
}

void ChecksumPair::Add(int which, std::string_view bytes) {
    if (!bytes.empty()) {
        lanes_[which != 0 ? 1 : 0]->Add(bytes);
    }
}

std::string ChecksumPair::Hex(int which) {
    Lane& lane = *lanes_[which != 0 ? 1 : 0];
    lane.End();
    return lane.hash.Hex();
}

std::string ContentChecksum(std::string_view bytes) {
    ContentHash hash;
    hash.Add(bytes);
    return hash.Hex();
}

bool HasHoles(int fd) {
    struct stat info {};
    return fstat(fd, &info) == 0 && S_ISREG(info.st_mode) &&
           static_cast<std::uint64_t>(info.st_blocks) * 512 <
               static_cast<std::uint64_t>(info.st_size);
}

bool CopyFileData(int from, std::uint64_t offset, std::uint64_t length, int to,
                  std::uint64_t to_offset, bool keep_holes) {
    if (!keep_holes) {
        return CopyData(from, offset, length, to, to_offset);
    }
    // Only the parts with data are copied; what lies between stays a hole in `to`.
    const std::uint64_t end = offset + length;
    for (std::uint64_t at = offset; at < end;) {
        const off_t data = lseek(from, static_cast<off_t>(at), SEEK_DATA);
        if (data < 0) {
            if (errno == ENXIO) {
                return true;  // only a hole to the end
            }
            return CopyData(from, at, end - at, to, to_offset + (at - offset));
        }
        if (static_cast<std::uint64_t>(data) >= end) {
            return true;
        }
        off_t hole = lseek(from, data, SEEK_HOLE);
        if (hole < 0) {
            hole = static_cast<off_t>(end);
        }
        const std::uint64_t stop = std::min<std::uint64_t>(static_cast<std::uint64_t>(hole), end);
        const std::uint64_t start = static_cast<std::uint64_t>(data);
        if (!CopyData(from, start, stop - start, to, to_offset + (start - offset))) {
            return false;
        }
        at = stop;
    }
    return true;
}

bool EndFile(int fd, std::uint64_t size) {
    return ftruncate(fd, static_cast<off_t>(size)) == 0;
}

bool NewFileWriter::Put(std::string_view bytes) {
    if (!WriteAllAt(fd_, bytes, written_)) {
        return false;
    }
    written_ += bytes.size();
    return true;
}

bool NewFileWriter::PutBlock(std::string_view block) {
    if (AllZero(block.data(), block.size())) {
        written_ += block.size();
        return true;
    }
    return Put(block);
}

bool NewFileWriter::Write(std::string_view bytes) {
    if (!keep_holes_) {
        return Put(bytes);
    }
    // Blocks are judged whole, however the bytes come: a block of zeros is left a hole.
    if (!pending_.empty()) {
        const std::size_t take = std::min(kHoleBlock - pending_.size(), bytes.size());
        pending_.append(bytes.substr(0, take));
        bytes.remove_prefix(take);
        if (pending_.size() < kHoleBlock) {
            return true;
        }
        if (!PutBlock(pending_)) {
            return false;
        }
        pending_.clear();
    }
    const std::size_t whole = bytes.size() / kHoleBlock * kHoleBlock;
    for (std::size_t at = 0; at < whole;) {
        if (AllZero(bytes.data() + at, kHoleBlock)) {
            written_ += kHoleBlock;
            at += kHoleBlock;
            continue;
        }
        // The blocks of data up to the next block of zeros, written at once.
        std::size_t end = at + kHoleBlock;
        while (end < whole && !AllZero(bytes.data() + end, kHoleBlock)) {
            end += kHoleBlock;
        }
        if (!Put(bytes.substr(at, end - at))) {
            return false;
        }
        at = end;
    }
    pending_.assign(bytes.substr(whole));
    return true;
}

bool NewFileWriter::Copy(int from, std::uint64_t offset, std::uint64_t length) {
    if (!pending_.empty()) {
        if (!Put(pending_)) {
            return false;
        }
        pending_.clear();
    }
    if (!CopyFileData(from, offset, length, fd_, written_, keep_holes_)) {
        return false;
    }
    written_ += length;
    return true;
}

bool NewFileWriter::Finish() {
    if (!pending_.empty()) {
        if (!PutBlock(pending_)) {
            return false;
        }
        pending_.clear();
    }
    return EndFile(fd_, written_);
}

}  // namespace ferret
