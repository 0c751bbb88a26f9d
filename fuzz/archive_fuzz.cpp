// The archive reader on any bytes: read as an archive from a memory file, it must end (no crash,
// no hang), stay within its limits, and give every entry's data at most once, names as data.
//
// Input: the whole input is the archive. The seeds are small archives of every kind read.

#include <sys/mman.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <string>

#include "fuzz/fuzz_support.h"
#include "util/archive_reader.h"
#include "util/file_handle.h"

namespace ferret {
namespace {

void Check(const std::uint8_t* data, std::size_t size) {
    const Fd fd(memfd_create("archive", MFD_CLOEXEC));
    FUZZ_CHECK(fd.get() >= 0, "memfd_create");
    FUZZ_CHECK(WriteAll(fd.get(), std::string_view(reinterpret_cast<const char*>(data), size)),
               "write");
    ArchiveLimits limits;
    limits.most_unpacked = 4u << 20;
    limits.ratio_from = 1u << 20;
    std::uint64_t given = 0;
    const ArchiveRead read =
        ReadArchive(fd.get(), limits, [&](const ArchiveEntry& entry, EntryStream& stream) {
            FUZZ_CHECK(entry.names.size() <= 2, std::to_string(entry.names.size()));
            char block[16384];
            std::int64_t got = 0;
            while ((got = stream.Read(block, sizeof block)) > 0) {
                FUZZ_CHECK(static_cast<std::size_t>(got) <= sizeof block, std::to_string(got));
                given += static_cast<std::uint64_t>(got);
            }
            // Once the end or a failure is told, it stays told.
            FUZZ_CHECK(stream.Read(block, sizeof block) == got, std::to_string(got));
            return EntryVisit::kNext;
        });
    // Entries given are unpacked bytes, each counted once at least.
    FUZZ_CHECK(given <= limits.most_unpacked + 2 * 65536, std::to_string(given));
    FUZZ_CHECK(!read.not_archive || given == 0, "not an archive, yet entries were given");
}

}  // namespace
}  // namespace ferret

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    ferret::Check(data, size);
    return 0;
}
