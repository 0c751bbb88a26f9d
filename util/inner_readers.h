#pragma once

#include <atomic>
#include <functional>
#include <memory>
#include <string>

#include "ferret_version.h"
#include "util/archive_reader.h"
#include "util/pdf_text.h"

namespace ferret {

// The readers of archives and PDFs as the module `ferret-readers.so` hands them to the programs,
// which load it when they first need one: the libraries behind them (libarchive, Poppler and
// theirs) take longer to load than a small search takes.
struct InnerReaders {
    // The module and the program pass C++ objects to each other: they must be of one build.
    const char* build;
    ArchiveRead (*read_archive)(int fd, const ArchiveLimits& limits,
                                const std::function<EntryVisit(const ArchiveEntry&, EntryStream&)>&,
                                const std::atomic<bool>* stop);
    std::unique_ptr<PdfText> (*open_pdf)(int fd, Status& error);
};

// What `build` holds: the version and the sizes of what is passed across.
inline const std::string& InnerReadersBuild() {
    static const std::string build =
        std::string(FERRET_VERSION) + " " + std::to_string(sizeof(ArchiveLimits)) + " " +
        std::to_string(sizeof(ArchiveRead)) + " " + std::to_string(sizeof(ArchiveEntry)) + " " +
        std::to_string(sizeof(Status));
    return build;
}

// The module's one entry point.
inline constexpr const char* kInnerReadersEntry = "ferret_inner_readers";
using InnerReadersEntry = const InnerReaders* (*)();

}  // namespace ferret
