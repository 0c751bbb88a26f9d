#include "util/archive_reader.h"

#include <archive.h>
#include <archive_entry.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <memory>

namespace ferret {
namespace {

using namespace std::string_view_literals;

constexpr std::size_t kBlock = 64 * 1024;
constexpr const char* kSource = "ferret.ArchiveReader";

using Support = int (*)(struct archive*);

// A filter whose library libarchive lacks would run a program instead, and say so with a warning:
// only those it has are used.
const std::vector<Support>& Filters() {
    static const std::vector<Support> usable = [] {
        std::vector<Support> filters;
        for (const Support filter :
             {archive_read_support_filter_gzip, archive_read_support_filter_bzip2,
              archive_read_support_filter_xz, archive_read_support_filter_lzma,
              archive_read_support_filter_zstd, archive_read_support_filter_compress}) {
            struct archive* probe = archive_read_new();
            if (filter(probe) == ARCHIVE_OK) {
                filters.push_back(filter);
            }
            archive_read_free(probe);
        }
        return filters;
    }();
    return usable;
}

// Not "all": some formats (mtree) read files that an archive names on disk. Raw last: a
// compressed file that holds no archive.
constexpr Support kFormats[] = {archive_read_support_format_zip,   archive_read_support_format_tar,
                                archive_read_support_format_7zip,  archive_read_support_format_cpio,
                                archive_read_support_format_empty, archive_read_support_format_raw};

// Whether an entry's first bytes are those of an archive or compressed data.
bool StartsAsArchive(std::string_view bytes) {
    static constexpr std::string_view kMagic[] = {"PK\x03\x04"sv,
                                                  "PK\x05\x06"sv,
                                                  "\x1F\x8B"sv,
                                                  "BZh"sv,
                                                  "\xFD"
                                                  "7zXZ\0"sv,
                                                  "\x28\xB5\x2F\xFD"sv,
                                                  "7z\xBC\xAF\x27\x1C"sv,
                                                  "\x1F\x9D"sv,
                                                  "\x5D\x00\x00"sv,
                                                  "070707"sv,
                                                  "070701"sv,
                                                  "070702"sv,
                                                  "\xC7\x71"sv,
                                                  "\x71\xC7"sv};
    for (const std::string_view magic : kMagic) {
        if (bytes.substr(0, magic.size()) == magic) {
            return true;
        }
    }
    return bytes.size() >= 262 && bytes.substr(257, 5) == "ustar";
}

// What one archive costs, nested ones included.
class Budget {
  public:
    Budget(const ArchiveLimits& limits, std::uint64_t packed, const std::atomic<bool>* stop)
        : limits_(limits), packed_(std::max<std::uint64_t>(packed, 1)), stop_(stop) {}

    // Counts `bytes` more unpacked: false when that passes a limit (status() says which), or
    // when the run is stopped.
    bool Spend(std::uint64_t bytes) {
        unpacked_ += bytes;
        if (stop_ != nullptr && stop_->load(std::memory_order_relaxed)) {
            stopped_ = true;
            return false;
        }
        if (unpacked_ > limits_.most_unpacked) {
            status_ = Status::Error(EFBIG,
                                    "it unpacks to more than " +
                                        std::to_string(limits_.most_unpacked >> 20) +
                                        " MiB; left as a possible archive bomb",
                                    kSource);
            return false;
        }
        if (unpacked_ > limits_.ratio_from && unpacked_ / packed_ > limits_.most_ratio) {
            status_ =
                Status::Error(EFBIG,
                              "it unpacks to more than " + std::to_string(limits_.most_ratio) +
                                  " times its size; left as a possible archive bomb",
                              kSource);
            return false;
        }
        return true;
    }
    bool spent() const { return !status_.ok() || stopped_; }
    bool stopped() const { return stopped_; }
    const Status& status() const { return status_; }
    const ArchiveLimits& limits() const { return limits_; }

  private:
    const ArchiveLimits& limits_;
    const std::uint64_t packed_;
    const std::atomic<bool>* const stop_;
    std::uint64_t unpacked_ = 0;
    bool stopped_ = false;
    Status status_;
};

// Where an archive's bytes come from: the file on disk, or an entry of the archive around it.
class Source {
  public:
    virtual ~Source() = default;
    // The next bytes, at `*data`: their count, 0 at the end, -1 when they cannot be read
    // (failure() says why).
    virtual la_ssize_t Read(const void** data) = 0;
    virtual bool seekable() const { return false; }
    virtual la_int64_t Seek(la_int64_t, int) { return ARCHIVE_FATAL; }
    virtual la_int64_t Skip(la_int64_t) { return 0; }
    const Status& failure() const { return failure_; }

  protected:
    Status failure_;
};

class FileSource final : public Source {
  public:
    FileSource(int fd, std::uint64_t size) : fd_(fd), size_(size), block_(kBlock) {}

    la_ssize_t Read(const void** data) override {
        for (;;) {
            const ssize_t got = pread(fd_, block_.data(), block_.size(), position_);
            if (got < 0 && errno == EINTR) {
                continue;
            }
            if (got < 0) {
                failure_ = Status::Error(errno, std::strerror(errno), kSource);
                return -1;
            }
            position_ += static_cast<std::uint64_t>(got);
            *data = block_.data();
            return got;
        }
    }
    bool seekable() const override { return true; }
    la_int64_t Seek(la_int64_t offset, int whence) override {
        const la_int64_t base = whence == SEEK_SET   ? 0
                                : whence == SEEK_CUR ? static_cast<la_int64_t>(position_)
                                                     : static_cast<la_int64_t>(size_);
        if (offset < -base) {
            return ARCHIVE_FATAL;
        }
        position_ = static_cast<std::uint64_t>(base + offset);
        return static_cast<la_int64_t>(position_);
    }
    la_int64_t Skip(la_int64_t request) override {
        const std::uint64_t left = size_ > position_ ? size_ - position_ : 0;
        const std::uint64_t skipped = std::min<std::uint64_t>(
            left, static_cast<std::uint64_t>(std::max<la_int64_t>(request, 0)));
        position_ += skipped;
        return static_cast<la_int64_t>(skipped);
    }

  private:
    const int fd_;
    const std::uint64_t size_;
    std::uint64_t position_ = 0;
    std::vector<char> block_;
};

// The data of the entry being read from `archive`, counted against the budget.
class LevelStream final : public EntryStream {
  public:
    LevelStream(struct archive* archive, Budget& budget, const Source& source)
        : archive_(archive),
          budget_(budget),
          source_(source),
          compressed_(archive_filter_code(archive, 0) != ARCHIVE_FILTER_NONE),
          filtered_(archive_filter_bytes(archive, 0)) {}

    std::int64_t Read(char* buffer, std::size_t size) override {
        if (!failure_.ok() || budget_.spent()) {
            return -1;
        }
        const la_ssize_t got = archive_read_data(archive_, buffer, size);
        if (got < 0) {
            failure_ = !source_.failure().ok()
                           ? source_.failure()
                           : Status::Error(EILSEQ,
                                           archive_error_string(archive_) != nullptr
                                               ? archive_error_string(archive_)
                                               : "damaged",
                                           kSource);
            return -1;
        }
        if (!Account(static_cast<std::uint64_t>(got))) {
            return -1;
        }
        return got;
    }

    // Counts what reading has unpacked: the bytes out of the decompression around the whole
    // archive, or else the entry's own.
    bool Account(std::uint64_t entry_bytes) {
        std::uint64_t spent = entry_bytes;
        if (compressed_) {
            const la_int64_t filtered = archive_filter_bytes(archive_, 0);
            spent = static_cast<std::uint64_t>(std::max<la_int64_t>(filtered - filtered_, 0));
            filtered_ = filtered;
        }
        return budget_.Spend(spent);
    }

    // Reads the rest of the entry where that costs decompression, so its cost is counted.
    bool Drain() {
        if (!compressed_) {
            return true;  // passed over by seeking or by the format's own lengths
        }
        std::vector<char> discard(kBlock);
        std::int64_t got = 0;
        while ((got = Read(discard.data(), discard.size())) > 0) {
        }
        return got == 0;
    }

    const Status& failure() const { return failure_; }

  private:
    struct archive* const archive_;
    Budget& budget_;
    const Source& source_;
    const bool compressed_;
    la_int64_t filtered_;
    Status failure_;
};

// An entry whose first bytes were read already to look at them: those, then the rest.
class ReplayStream final : public EntryStream {
  public:
    ReplayStream(std::string first, EntryStream& rest) : first_(std::move(first)), rest_(rest) {}

    std::int64_t Read(char* buffer, std::size_t size) override {
        if (given_ < first_.size()) {
            const std::size_t count = std::min(size, first_.size() - given_);
            std::memcpy(buffer, first_.data() + given_, count);
            given_ += count;
            return static_cast<std::int64_t>(count);
        }
        return rest_.Read(buffer, size);
    }

  private:
    const std::string first_;
    std::size_t given_ = 0;
    EntryStream& rest_;
};

// An entry of the archive around, as the source of the archive inside it.
class EntrySource final : public Source {
  public:
    explicit EntrySource(EntryStream& entry) : entry_(entry), block_(kBlock) {}

    la_ssize_t Read(const void** data) override {
        const std::int64_t got = entry_.Read(block_.data(), block_.size());
        if (got < 0) {
            failure_ = Status::Error(EIO, "the archive around it could not be read", kSource);
            return -1;
        }
        *data = block_.data();
        return static_cast<la_ssize_t>(got);
    }

  private:
    EntryStream& entry_;
    std::vector<char> block_;
};

la_ssize_t ReadCallback(struct archive*, void* source, const void** data) {
    return static_cast<Source*>(source)->Read(data);
}

la_int64_t SeekCallback(struct archive*, void* source, la_int64_t offset, int whence) {
    return static_cast<Source*>(source)->Seek(offset, whence);
}

la_int64_t SkipCallback(struct archive*, void* source, la_int64_t request) {
    return static_cast<Source*>(source)->Skip(request);
}

std::string NameOf(struct archive_entry* entry) {
    const char* name = archive_entry_pathname_utf8(entry);
    if (name == nullptr) {
        name = archive_entry_pathname(entry);  // the archive's own bytes
    }
    return name != nullptr ? name : "";
}

Status Damaged(struct archive* archive, const Source& source) {
    if (!source.failure().ok()) {
        return source.failure();
    }
    const char* why = archive_error_string(archive);
    return Status::Error(archive_errno(archive) > 0 ? archive_errno(archive) : EILSEQ,
                         why != nullptr ? why : "damaged", kSource);
}

using Visit = std::function<EntryVisit(const ArchiveEntry&, EntryStream&)>;

// Reads the archive `source` holds, `depth` deep, its entries named after `names`.
ArchiveRead ReadLevel(Source& source, int depth, const std::vector<std::string>& names,
                      Budget& budget, const Visit& visit) {
    ArchiveRead result;
    const std::unique_ptr<struct archive, int (*)(struct archive*)> archive(archive_read_new(),
                                                                            archive_read_free);
    if (!archive) {
        result.status = Status::Error(ENOMEM, "out of memory", kSource);
        return result;
    }
    for (const Support filter : Filters()) {
        filter(archive.get());
    }
    for (const Support format : kFormats) {
        format(archive.get());
    }
    archive_read_set_read_callback(archive.get(), ReadCallback);
    if (source.seekable()) {
        archive_read_set_seek_callback(archive.get(), SeekCallback);
        archive_read_set_skip_callback(archive.get(), SkipCallback);
    }
    archive_read_set_callback_data(archive.get(), &source);
    if (archive_read_open1(archive.get()) != ARCHIVE_OK) {
        result.status = Damaged(archive.get(), source);
        return result;
    }
    for (bool first = true;; first = false) {
        struct archive_entry* header = nullptr;
        const int read = archive_read_next_header(archive.get(), &header);
        if (read == ARCHIVE_EOF) {
            break;
        }
        if (read < ARCHIVE_WARN) {
            result.status = Damaged(archive.get(), source);
            break;
        }
        const bool raw = archive_format(archive.get()) == ARCHIVE_FORMAT_RAW;
        if (first && raw && archive_filter_code(archive.get(), 0) == ARCHIVE_FILTER_NONE) {
            result.not_archive = true;
            break;
        }
        LevelStream stream(archive.get(), budget, source);
        if (!stream.Account(0)) {
            break;
        }
        if (archive_entry_filetype(header) != AE_IFREG) {
            continue;
        }
        ArchiveEntry entry;
        entry.names = names;
        if (!raw) {
            entry.names.push_back(NameOf(header));
        }
        entry.size_known = !raw && archive_entry_size_is_set(header) != 0;
        entry.size =
            entry.size_known
                ? static_cast<std::uint64_t>(std::max<la_int64_t>(archive_entry_size(header), 0))
                : 0;
        entry.encrypted = archive_entry_is_data_encrypted(header) != 0;

        EntryVisit next = EntryVisit::kNext;
        if (!entry.encrypted && !entry.names.empty() && depth < budget.limits().most_depth &&
            LooksLikeArchive(entry.names.back())) {
            // Opened in place of the entry when its bytes say it is an archive too.
            std::string first_bytes(kBlock, '\0');
            std::size_t filled = 0;
            std::int64_t got = 0;
            while (filled < first_bytes.size() &&
                   (got = stream.Read(first_bytes.data() + filled, first_bytes.size() - filled)) >
                       0) {
                filled += static_cast<std::size_t>(got);
            }
            first_bytes.resize(filled);
            if (got >= 0 && StartsAsArchive(first_bytes)) {
                ReplayStream whole(std::move(first_bytes), stream);
                EntrySource inner(whole);
                ArchiveRead nested = ReadLevel(inner, depth + 1, entry.names, budget, visit);
                if (nested.stopped || budget.spent()) {
                    result.stopped = nested.stopped;
                    break;
                }
                if (nested.not_archive) {
                    nested.status = Status::Error(EILSEQ, "not an archive", kSource);
                }
                if (!nested.status.ok() && result.status.ok()) {
                    // Told, and the archive around is read on.
                    std::string where;
                    for (const std::string& name : entry.names) {
                        where += (where.empty() ? "" : "//") + name;
                    }
                    result.status =
                        Status::Error(nested.status.number(),
                                      where + ": " + nested.status.description(), kSource);
                }
            } else if (got >= 0) {
                ReplayStream whole(std::move(first_bytes), stream);
                next = visit(entry, whole);
            }
        } else {
            next = visit(entry, stream);
        }
        if (next == EntryVisit::kStop) {
            result.stopped = true;
            break;
        }
        if (!stream.failure().ok() || budget.spent() || !stream.Drain()) {
            if (!stream.failure().ok()) {
                result.status = stream.failure();
            }
            break;
        }
    }
    if (budget.stopped()) {
        result.stopped = true;
    } else if (!budget.status().ok()) {
        result.status = budget.status();
    }
    return result;
}

}  // namespace

ArchiveRead ReadArchive(int fd, const ArchiveLimits& limits, const Visit& visit,
                        const std::atomic<bool>* stop) {
    struct stat info {};
    if (fstat(fd, &info) != 0) {
        ArchiveRead result;
        result.status = Status::Error(errno, std::strerror(errno), kSource);
        return result;
    }
    const auto size = static_cast<std::uint64_t>(std::max<off_t>(info.st_size, 0));
    Budget budget(limits, size, stop);
    FileSource source(fd, size);
    return ReadLevel(source, 1, {}, budget, visit);
}

}  // namespace ferret
