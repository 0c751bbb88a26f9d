#include "engine/inner_files.h"

#include <strings.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <optional>
#include <thread>

#include "util/file_handle.h"
#include "util/pdf_text.h"

namespace ferret {
namespace {

constexpr std::size_t kBlock = 64 * 1024;

// Hands inner files from the reading thread to the searching one, one at a time.
class Handover {
  public:
    // On the reading thread: offers `file`, to be read from `fd`; false when the searching thread
    // wants no more.
    bool Offer(const InnerFile& file, int fd) {
        std::unique_lock lock(mutex_);
        if (ended_) {
            return false;
        }
        offered_ = file;
        offered_fd_ = fd;
        changed_.notify_all();
        return true;
    }
    // On the reading thread: waits until the file offered last is searched; false when the
    // searching thread wants no more.
    bool AwaitTaken() {
        std::unique_lock lock(mutex_);
        changed_.wait(lock, [&] { return !offered_ || ended_; });
        return !ended_;
    }
    // On the reading thread, at its end.
    void Finish(InnerRead result) {
        std::unique_lock lock(mutex_);
        result_ = std::move(result);
        finished_ = true;
        changed_.notify_all();
    }

    // On the searching thread: visits every file offered until the reading finishes.
    InnerRead Serve(const std::function<bool(const InnerFile&, int)>& visit) {
        std::unique_lock lock(mutex_);
        for (;;) {
            changed_.wait(lock, [&] { return offered_ || finished_; });
            if (offered_) {
                const InnerFile file = *offered_;
                const Fd fd(offered_fd_);
                lock.unlock();
                const bool more = visit(file, fd.get());
                lock.lock();
                offered_.reset();
                ended_ = ended_ || !more;
                changed_.notify_all();
                continue;  // the descriptor is closed, which ends a write still under way
            }
            return result_;
        }
    }

  private:
    std::mutex mutex_;
    std::condition_variable changed_;
    std::optional<InnerFile> offered_;  // protected by mutex_, as every field below
    int offered_fd_ = -1;
    bool ended_ = false;
    bool finished_ = false;
    InnerRead result_;
};

// Writes `bytes` to the socket `fd`: false when the reader has closed its end.
bool SendAll(int fd, const char* bytes, std::size_t size) {
    while (size > 0) {
        const ssize_t sent = send(fd, bytes, size, MSG_NOSIGNAL);
        if (sent < 0 && errno == EINTR) {
            continue;
        }
        if (sent <= 0) {
            return false;
        }
        bytes += sent;
        size -= static_cast<std::size_t>(sent);
    }
    return true;
}

// Offers `file` and writes what `next` gives into it, until its end (0) or failure (-1); then
// waits until it is searched. False when no more are wanted.
bool Pass(Handover& handover, const InnerFile& file,
          const std::function<std::int64_t(char*, std::size_t)>& next) {
    int ends[2];
    if (socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, ends) != 0) {
        return false;
    }
    const Fd write_end(ends[1]);
    if (!handover.Offer(file, ends[0])) {
        close(ends[0]);
        return false;
    }
    std::vector<char> block(kBlock);
    for (std::int64_t got = 0; (got = next(block.data(), block.size())) > 0;) {
        if (!SendAll(write_end.get(), block.data(), static_cast<std::size_t>(got))) {
            break;  // the search has read what it needed
        }
    }
    shutdown(write_end.get(), SHUT_WR);
    return handover.AwaitTaken();
}

InnerRead ReadArchiveFiles(int fd, const ArchiveLimits& limits, const std::atomic<bool>* stop,
                           const std::function<bool(const InnerFile&)>& wanted,
                           Handover& handover) {
    const ArchiveRead read = ReadArchive(
        fd, limits,
        [&](const ArchiveEntry& entry, EntryStream& stream) {
            InnerFile file;
            file.names = entry.names;
            file.size = entry.size;
            file.size_known = entry.size_known;
            file.encrypted = entry.encrypted;
            if (!wanted(file)) {
                return EntryVisit::kNext;
            }
            const bool more =
                Pass(handover, file, [&](char* buffer, std::size_t size) -> std::int64_t {
                    return file.encrypted ? 0 : stream.Read(buffer, size);
                });
            return more ? EntryVisit::kNext : EntryVisit::kStop;
        },
        stop);
    InnerRead result;
    result.status = read.status;
    result.not_container = read.not_archive;
    return result;
}

InnerRead ReadPdfPages(int fd, const std::atomic<bool>* stop,
                       const std::function<bool(const InnerFile&)>& wanted, Handover& handover) {
    InnerRead result;
    const std::unique_ptr<PdfText> pdf = PdfText::Open(fd, result.status);
    if (!pdf) {
        return result;
    }
    for (int index = 0; index < pdf->Pages(); ++index) {
        if (stop != nullptr && stop->load(std::memory_order_relaxed)) {
            break;
        }
        InnerFile file;
        file.page = index + 1;
        if (!wanted(file)) {
            continue;
        }
        const std::string text = pdf->PageText(index);
        file.size = text.size();
        file.size_known = true;
        std::size_t given = 0;
        if (!Pass(handover, file, [&](char* buffer, std::size_t size) -> std::int64_t {
                const std::size_t count = std::min(size, text.size() - given);
                std::copy_n(text.data() + given, count, buffer);
                given += count;
                return static_cast<std::int64_t>(count);
            })) {
            break;
        }
    }
    return result;
}

}  // namespace

Container ContainerOf(std::string_view name) {
    if (LooksLikeArchive(name)) {
        return Container::kArchive;
    }
    if (name.size() > 4 && strncasecmp(name.data() + name.size() - 4, ".pdf", 4) == 0) {
        return Container::kPdf;
    }
    return Container::kNone;
}

InnerRead ReadInnerFiles(int fd, Container container, const ArchiveLimits& limits,
                         const std::atomic<bool>* stop,
                         const std::function<bool(const InnerFile&)>& wanted,
                         const std::function<bool(const InnerFile&, int inner_fd)>& visit) {
    Handover handover;
    std::thread reader([&] {
        handover.Finish(container == Container::kPdf
                            ? ReadPdfPages(fd, stop, wanted, handover)
                            : ReadArchiveFiles(fd, limits, stop, wanted, handover));
    });
    InnerRead result = handover.Serve(visit);
    reader.join();
    return result;
}

}  // namespace ferret
