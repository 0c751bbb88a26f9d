#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "util/status.h"

namespace ferret {

// What one archive may cost before it is left as a possible bomb: the bytes unpacked from it,
// nested archives included, and their ratio to its size on disk.
struct ArchiveLimits {
    std::uint64_t most_unpacked = std::uint64_t{4} << 30;
    // Unpacked bytes per packed byte, looked at once more than `ratio_from` bytes are unpacked:
    // real text rarely packs beyond 20 to 1, a bomb packs beyond 1000 to 1.
    std::uint64_t most_ratio = 100;
    std::uint64_t ratio_from = std::uint64_t{64} << 20;
    // Archives inside archives are opened this deep; the archive on disk is depth 1.
    int most_depth = 2;
};

// Whether `name` names an archive or a compressed file by its ending: .zip, .tar, .tgz, .tar.gz,
// .tbz2, .tar.bz2, .txz, .tar.xz, .tzst, .tar.zst, .7z, .cpio, .gz, .bz2, .xz, .zst (any case).
bool LooksLikeArchive(std::string_view name);
// The name of what a compressed file holds: "app.log" for "app.log.gz" (.gz, .bz2, .xz, .zst, any
// case); `name` itself otherwise.
std::string_view DataNameOf(std::string_view name);

// One file inside an archive, as the archive tells it.
struct ArchiveEntry {
    // Its path inside each archive, outermost first: {"inner.tar.gz", "docs/a.txt"} for a file
    // of an archive inside the one read. The names are the archive's bytes (UTF-8 where it says
    // which encoding it uses): data to be quoted, never a path on disk. A compressed file that is
    // no archive (a .gz) is its own entry: it adds no name, so the file on disk is {}.
    std::vector<std::string> names;
    std::uint64_t size = 0;  // unpacked; 0 when the archive does not tell it
    bool size_known = false;
    bool encrypted = false;  // its data cannot be read
};

// Reads the data of the entry being visited.
class EntryStream {
  public:
    virtual ~EntryStream() = default;
    // Up to `size` bytes of the entry: 0 at its end, -1 when it cannot be read on (the reading's
    // outcome tells why, and the archive is left).
    virtual std::int64_t Read(char* buffer, std::size_t size) = 0;
};

// What the visitor of an entry says: read on, or leave the archive.
enum class EntryVisit { kNext, kStop };

struct ArchiveRead {
    // Why the archive could not be read to its end: damaged, past the limits, an entry that could
    // not be read, or a nested archive that could not (entries visited before stay visited).
    Status status;
    bool not_archive = false;  // neither archive nor compressed: nothing was visited
    bool stopped = false;      // by `stop` or by the visitor
};

// Visits every file entry of the archive or compressed file open as `fd` (read with pread: its
// offset is not moved; not owned), in the archive's order. Nested archives (LooksLikeArchive, and
// their first bytes say so) are opened in place of their entry, to limits.most_depth. Folders,
// links and devices are passed over. `visit` may read the entry's data from the stream, or not;
// the stream is valid only during the call. Streamed: memory does not grow with an entry's size,
// and nothing is written anywhere. Only zip, tar, 7z and cpio archives and gzip, bzip2, xz, lzma,
// zstd and compress data are read, each by a library, never by a program. `stop` is looked at
// between blocks. Thread-safe: each call has its own reader.
ArchiveRead ReadArchive(int fd, const ArchiveLimits& limits,
                        const std::function<EntryVisit(const ArchiveEntry&, EntryStream&)>& visit,
                        const std::atomic<bool>* stop = nullptr);

}  // namespace ferret
