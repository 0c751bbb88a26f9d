#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "util/archive_reader.h"
#include "util/status.h"

namespace ferret {

// What a run searches inside a file as if it were a file of its own: an entry of an archive (or
// the data of a compressed file), or the text of a page of a PDF.
struct InnerFile {
    // Inside the archive(s), outermost first (ArchiveEntry::names); empty for a compressed file's
    // data and a PDF's pages.
    std::vector<std::string> names;
    int page = 0;  // 1-based, for a PDF's page; 0 otherwise
    std::uint64_t size = 0;
    bool size_known = false;
    bool encrypted = false;  // nothing can be read of it
};

// Which files hold inner files: archives and compressed files (LooksLikeArchive) and PDFs, by
// their names.
enum class Container { kNone, kArchive, kPdf };
Container ContainerOf(std::string_view name);

struct InnerRead {
    Status status;               // why the container could not be read to its end
    bool not_container = false;  // its bytes are no archive after all: search it as a file
};

// Reads the inner files of `container` open as `fd` (not owned) on a thread of its own and gives
// each, in order, to `visit` on the calling thread as a descriptor it reads the inner file's bytes
// from, to their end, once (a socket: it cannot be read again from its start, nor read at an
// offset; it is closed when `visit` returns). `wanted`, on the reading thread, passes over inner
// files before their bytes are read (mask and size filters). An inner file whose reading fails on
// the way ends early, and the failure is told in the result. Memory is a few blocks, whatever the
// sizes. `stop` is looked at between blocks; `visit` returning false ends the reading.
InnerRead ReadInnerFiles(int fd, Container container, const ArchiveLimits& limits,
                         const std::atomic<bool>* stop,
                         const std::function<bool(const InnerFile&)>& wanted,
                         const std::function<bool(const InnerFile&, int inner_fd)>& visit);

}  // namespace ferret
